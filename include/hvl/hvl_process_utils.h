/*
 * Process utilities: a signal handler, the IPMI checksum, and opening a file
 * with checks against links and a file swapped under the caller.
 *
 * They do not log: open_file_secure prints its refusals on standard output,
 * register_signal_handler its failures on standard error.
 */
#ifndef HVL_PROCESS_UTILS_H
#define HVL_PROCESS_UTILS_H

#include <stdint.h>
#include <stdio.h>

#include "hvl_export.h"

HVL_BEGIN_DECLS

/* Installs handler for signal, with no flags and an empty mask; nothing for 0 or null. */
HVL_API void register_signal_handler(int signal, void (*handler)(int));

/* The byte that makes the 8-bit sum of the len bytes and itself zero; 0 for len <= 0. */
HVL_API uint8_t ipmi_checksum(const uint8_t *data, int len);

/*
 * Opens a regular file of one link, not a symbolic link: "r", or "w+" when
 * writable (a missing file is then created). The file opened must be the one
 * looked at (inode, owner, still one link). Null after printing why.
 */
HVL_API FILE *open_file_secure(const char *path, int writable);

HVL_END_DECLS

#endif /* HVL_PROCESS_UTILS_H */
