// Feeds arbitrary bytes to the FRU decoding: the input is parsed as a board
// and a product area and as a run of fields, and its answers are then
// replayed to the FRU queries, the MAC address and the migration (every
// request takes the next answer, completion code first). Every text must
// end inside its field, and every list node must hold what it says.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "fuzz_input.h"
#include "hvl/board_info.h"
#include "hvl/hvl_ipmi_fru.h"

namespace {

void require_ended(const char *text, size_t size) {
    if (memchr(text, '\0', size) == nullptr) {
        __builtin_trap();
    }
}

void require_board(const FruBoardInfo &board) {
    for (const char *text : {board.mfg_date, board.manufacturer, board.product_name,
                             board.part_number, board.serial_number, board.fru_file_id}) {
        require_ended(text, FRU_FIELD_SIZE);
    }
}

void require_product(const FruProductInfo &product) {
    for (const char *text :
         {product.manufacturer, product.product_name, product.part_number, product.version,
          product.serial_number, product.asset_tag, product.fru_file_id}) {
        require_ended(text, FRU_FIELD_SIZE);
    }
}

// The area parsers and the field parser over the bytes as they are.
void parse_as_area(const uint8_t *data, int size) {
    if (size < 3) {
        return;
    }
    FruBoardInfo board{};
    int position = 0;
    fru_board_info_area_parse(data, &position, size - 3, &board);
    require_board(board);
    FruProductInfo product{};
    position = 0;
    fru_product_area_parse(data, &position, size - 3, &product);
    require_product(product);
    char text[FRU_FIELD_SIZE];
    position = 0;
    while (fru_field_parse(data, &position, size, text, sizeof text) == 0) {
        require_ended(text, sizeof text);
    }
}

void query_every_area(IpmiIntf *intf) {
    FruBoardInfo board;
    fru_board_info_get(intf, 0, &board);
    require_board(board);
    FruProductInfo product;
    fru_product_info_get(intf, 1, &product);
    require_product(product);
    FruMultiRecord *list = nullptr;
    fru_multi_record_info_get(intf, 0, &list);
    while (list != nullptr) {
        FruMultiRecord *next = list->next;
        if (list->length > 0) {
            volatile uint8_t last = list->data[list->length - 1]; // for ASan to check
            (void)last;
        }
        std::free(list);
        list = next;
    }
    uint8_t internal[64];
    int size = sizeof internal;
    if (fru_internal_area_info_get(intf, 0, internal, &size) == 0 &&
        (size < 0 || size > static_cast<int>(sizeof internal))) {
        __builtin_trap();
    }
    MacInfo mac{};
    board_info_get_mac(intf, &mac);
    require_ended(mac.text, sizeof mac.text);
    board_info_migrate_to_fcap(intf);
    seeprom_rw_test(intf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    parse_as_area(data, static_cast<int>(size));
    FuzzInput fuzz(data, size);
    ReplayingIntf intf(fuzz);
    query_every_area(intf.get());
    return 0;
}
