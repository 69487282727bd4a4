// The simulator's IPMC test, until its replacement, takes the access
// signature and the access codes by their former names; this gives it them
// through access_signature() and access_code(). Forced into that test alone.
#pragma once

#include <algorithm>

#include "ipmi/ostrel_constants.h"

namespace hvl::ostrel {

inline const AccessSignature kAccessSignature = access_signature();

struct AccessCodeEntry {
    uint16_t product_id;
    uint8_t code[OSTREL_ACCESS_CODE_SIZE];
};

inline const AccessCodeEntry *find_access_code(uint16_t product_id) {
    static AccessCodeEntry entry{};
    const std::optional<AccessCode> code = access_code(product_id);
    if (!code) {
        return nullptr;
    }
    entry.product_id = product_id;
    std::copy(code->begin(), code->end(), entry.code);
    return &entry;
}

} // namespace hvl::ostrel
