/*
 * FRU inventory data: the board, product, multirecord and internal use
 * areas of a FRU device, read through the IPMC with the Storage commands,
 * and a write and read-back test of the storage of FRU device 0.
 *
 * Results: 0 success; 1 a Read or Write FRU Data exchange failed part-way;
 * -1 range beyond the inventory area, the area info query failed, out of
 * memory, malformed area or list, or a test mismatch; -2 null interface;
 * -4 the area info query answered 0xC3 or 0xCB; -5 a zero checksum failed;
 * -13 the common header gives no offset for the area asked for.
 */
#ifndef HVL_IPMI_FRU_H
#define HVL_IPMI_FRU_H

#include <stdint.h>

#include "hvl_export.h"
#include "hvl_ipmi_interface.h"

HVL_BEGIN_DECLS

#define FRU_FIELD_SIZE 64        /* every text of a record, with its 0 */
#define FRU_CUSTOM_FIELD_SIZE 64 /* at most 63 raw bytes and a 0 */
#define FRU_CUSTOM_FIELD_COUNT 16
#define FRU_COMMON_HEADER_SIZE 8
#define FRU_MULTI_RECORD_HEADER_SIZE 5
#define FRU_END_OF_FIELDS 0xC1

enum {
    FRU_OK = 0,
    FRU_PARTIAL = 1,
    FRU_FAILED = -1,
    FRU_NO_INTERFACE = -2,
    FRU_NOT_PRESENT = -4,
    FRU_BAD_CHECKSUM = -5,
    FRU_NO_AREA = -13
};

/* The answer to Get FRU Inventory Area Info. */
typedef struct FruAreaInfo {
    uint16_t size;                /* inventory area bytes */
    unsigned int word_access : 1; /* the device is accessed by words */
} FruAreaInfo;

HVL_ASSERT_LAYOUT(sizeof(FruAreaInfo) == 4, "the area info is 4 bytes");

/* A custom field as read: type_length 0 when unused. */
typedef struct FruCustomField {
    uint8_t type_length;
    uint8_t bytes[FRU_CUSTOM_FIELD_SIZE];
} FruCustomField;

HVL_ASSERT_LAYOUT(sizeof(FruCustomField) == 65, "a custom field is 65 bytes");

typedef struct FruBoardInfo {
    uint8_t valid;                 /* 1 when the whole area parsed */
    char mfg_date[FRU_FIELD_SIZE]; /* "%Y-%m-%d %H:%M", local time */
    int32_t mfg_minutes;           /* as stored: minutes since 1996-01-01 00:00 */
    char manufacturer[FRU_FIELD_SIZE];
    char product_name[FRU_FIELD_SIZE];
    char part_number[FRU_FIELD_SIZE];
    char serial_number[FRU_FIELD_SIZE];
    char fru_file_id[FRU_FIELD_SIZE];
    FruCustomField custom[FRU_CUSTOM_FIELD_COUNT]; /* in the order read */
} FruBoardInfo;

typedef struct FruProductInfo {
    uint8_t valid; /* 1 when the whole area parsed */
    char manufacturer[FRU_FIELD_SIZE];
    char product_name[FRU_FIELD_SIZE];
    char part_number[FRU_FIELD_SIZE]; /* part/model number */
    char version[FRU_FIELD_SIZE];
    char serial_number[FRU_FIELD_SIZE];
    char asset_tag[FRU_FIELD_SIZE];
    char fru_file_id[FRU_FIELD_SIZE];
    FruCustomField custom[FRU_CUSTOM_FIELD_COUNT]; /* in the order read */
} FruProductInfo;

/* One record of the multirecord list: one heap block, data right behind the node. */
typedef struct FruMultiRecord {
    struct FruMultiRecord *next; /* null at the end */
    uint8_t type_id;
    uint8_t format; /* the end-of-list flag cleared */
    uint8_t length; /* bytes of data */
    uint8_t record_checksum;
    uint8_t *data; /* length bytes */
} FruMultiRecord;

/*
 * Queries of a FRU device (low 8 bits of fru_id). The records are zero-filled
 * first; 0 means the area was read and its checksum held, and valid tells
 * whether every field decoded. The caller releases every node of the list.
 */
HVL_API int fru_board_info_get(IpmiIntf *intf, int fru_id, FruBoardInfo *board);
HVL_API int fru_product_info_get(IpmiIntf *intf, int fru_id, FruProductInfo *product);
/* 0 when the list ended with the end-of-list flag; *list is null first. */
HVL_API int fru_multi_record_info_get(IpmiIntf *intf, int fru_id, FruMultiRecord **list);
/* *size: in, the buffer's size; out, the bytes read. */
HVL_API int fru_internal_area_info_get(IpmiIntf *intf, int fru_id, uint8_t *buffer, int *size);
/*
 * Writes the pattern 55 AA 33 CC 0F F0 00 FF over the first 8 bytes of FRU
 * device 0's internal use area, reads them back, and writes the saved bytes
 * back whatever the outcome: 0 passed; -5 the common header's checksum
 * failed; -1 any other failure or a difference. A FRU without an internal
 * use area is refused (-1) before anything is written: the range would be
 * the common header.
 */
HVL_API int seeprom_rw_test(IpmiIntf *intf);

/*
 * The exchanges. The area info passes a completion code other than 0
 * through unchanged. A read goes out in pieces of 23 bytes (11 by words),
 * 22 (16) when the interface's target is 0x20, each piece smaller by one
 * after 0xC7 or 0xC8 down to 9; a write in pieces of 16. Both give -1 for a
 * range past the inventory without a request, and 1 when they end early: a
 * failed exchange, or a read answer that returns nothing, more than asked or
 * fewer bytes than it says.
 */
HVL_API int fru_inventory_area_info_get(IpmiIntf *intf, int fru_id, FruAreaInfo *info);
HVL_API int fru_data_read(IpmiIntf *intf, const FruAreaInfo *info, int fru_id, int offset,
                          int length, uint8_t *buffer);
HVL_API int fru_data_write(IpmiIntf *intf, const FruAreaInfo *info, int fru_id, int buffer_offset,
                           int offset, int length, const uint8_t *buffer);
HVL_API int fru_common_header_get(int fru_id, IpmiIntf *intf, FruAreaInfo *info,
                                  uint8_t header[FRU_COMMON_HEADER_SIZE]);

/* 0 when the bytes sum to 0 modulo 256, else -5. */
HVL_API int fru_checksum(const uint8_t *data, int length);

/*
 * Decoding of bytes already read. *position indexes data and moves past what
 * was decoded; nothing at or beyond end is read. A field whose stated length
 * runs past end stops there.
 *
 * fru_field_parse: the field at *position as text (binary as lower-case hex,
 * BCD plus one character per byte, 6-bit packed ASCII, 8-bit as is). -1 and
 * *position unchanged when out is null, the text and its 0 don't fit out_size
 * or the type/length byte lies at or beyond end.
 */
HVL_API int fru_field_parse(const uint8_t *data, int *position, int end, char *out, int out_size);
/* Three bytes of minutes since 1996-01-01 00:00 as "%Y-%m-%d %H:%M". */
HVL_API int fru_mfg_date_parse(const uint8_t *data, int *position, int end, char *out,
                               int out_size);
/*
 * The fields of an area of end + 3 bytes (its length less 3 as end), read
 * while *position is below end; nothing at or beyond the area's end is read.
 * Always 0, the outcome is in valid. A field that does not decode leaves the
 * position on it, and the custom fields are read from there.
 */
HVL_API int fru_board_info_area_parse(const uint8_t *data, int *position, int end,
                                      FruBoardInfo *board);
HVL_API int fru_product_area_parse(const uint8_t *data, int *position, int end,
                                   FruProductInfo *product);

/*
 * The areas of a FRU device, located through its common header. An area
 * whose length byte is 0 is malformed (-1).
 */
HVL_API int fru_board_area_read(int fru_id, IpmiIntf *intf, const FruAreaInfo *info, int offset,
                                FruBoardInfo *board);
HVL_API int fru_board_info_parse(IpmiIntf *intf, int fru_id, FruBoardInfo *board);
HVL_API int fru_product_area_read(int fru_id, IpmiIntf *intf, const FruAreaInfo *info, int offset,
                                  FruProductInfo *product);
HVL_API int fru_product_info_parse(IpmiIntf *intf, int fru_id, FruProductInfo *product);
HVL_API int fru_multi_record_read(int fru_id, IpmiIntf *intf, const FruAreaInfo *info, int offset,
                                  FruMultiRecord **list);
HVL_API int fru_multi_record_parse(IpmiIntf *intf, int fru_id, FruMultiRecord **list);
HVL_API int fru_internal_area_parse(IpmiIntf *intf, int fru_id, uint8_t *buffer, int *size);

HVL_END_DECLS

#endif
