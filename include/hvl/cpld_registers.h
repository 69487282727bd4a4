/*
 * The CPLD register table: every register the tool knows, in both areas,
 * with its reset value and the bits the default check compares.
 */
#ifndef HVL_CPLD_REGISTERS_H
#define HVL_CPLD_REGISTERS_H

#include <stdint.h>

#include "cpld.h"
#include "hvl_export.h"

HVL_BEGIN_DECLS

typedef struct RegisterDef {
    const char *name;
    const char *description;
    uint8_t offset;
    uint8_t default_value; /* value after reset */
    uint8_t mask;          /* bits the default check compares */
    uint32_t area;         /* RegisterArea */
} RegisterDef;

#define REGISTER_TABLE_ROWS 57

/* The rows in order, closed by an all-zero row. The library owns the table for
 * the life of the process; it is writable, as the expected defaults of the
 * piggy-back rows depend on the board. */
HVL_API extern RegisterDef register_table[REGISTER_TABLE_ROWS + 1];

/* The row (in register_table) with this offset in this area, or null. */
HVL_API RegisterDef *register_find(int offset, RegisterArea area);
/* The first row (in register_table) whose name begins with `text`, or null. */
HVL_API RegisterDef *register_find_by_name(const char *text);
/* "PPC" for the PPC area, "IPMC" otherwise: a constant text. */
HVL_API const char *register_area_text(uint32_t area);

HVL_END_DECLS

#endif /* HVL_CPLD_REGISTERS_H */
