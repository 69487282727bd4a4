// The multirecord list of a FRU image already read, for the module's read
// and for tests.
#ifndef HVL_IPMI_FRU_MULTI_RECORD_H
#define HVL_IPMI_FRU_MULTI_RECORD_H

#include <cstdint>

#include "hvl/hvl_ipmi_fru.h"

namespace hvl::fru {

// The records from offset on in the `size` bytes of data, appended to *list
// until one carries the end-of-list flag (0). A header or data running past
// size or no memory gives -1, a failed header or record checksum -5; nodes
// appended before stay in the list. Release every node with std::free.
int multi_record_list_parse(const uint8_t *data, int size, int offset, FruMultiRecord **list);

} // namespace hvl::fru

#endif
