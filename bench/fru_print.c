/*
 * Prints the library's decoding of FRU devices, one line per item, fields
 * separated by "|":
 *   board|rc|valid                 then board.mfg_minutes|N (as stored) and
 *                                  board.FIELD|text for mfg_date, manufacturer,
 *                                  product_name, serial_number, part_number,
 *                                  fru_file_id
 *   board.custom|i|type_length|data  each used custom field, both in hex
 *   product|rc|valid               then product.FIELD|text for manufacturer,
 *                                  product_name, part_number, version,
 *                                  serial_number, asset_tag, fru_file_id,
 *                                  and product.custom as above
 *   multirecord|rc                 then multirecord|type|format|length per
 *                                  record, in hex
 *   mac|rc|text|octets|suffix      FRU device 0 only: the board's MAC address
 * A text's bytes outside printable ASCII, and "|" and "\", are written \xHH.
 * Usage: fru_print [-q] ID...; with -q the areas are read and nothing
 * printed, the MAC address left out: what `ipmitool -v fru print` reads,
 * which the benchmark measures it against. A C program on the public API
 * alone.
 */
#include <hvl/board_info.h>
#include <hvl/hvl_ipmi_fru.h>
#include <hvl/hvl_ipmi_interface.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int quiet;

static void print_text(const char *text) {
    for (const unsigned char *c = (const unsigned char *)text; *c != 0; ++c) {
        if (*c < 0x20 || *c > 0x7E || *c == '|' || *c == '\\') {
            printf("\\x%02x", *c);
        } else {
            putchar(*c);
        }
    }
}

/* A text field of a record: its name and where it lies in the record. */
typedef struct TextField {
    const char *name;
    size_t offset;
} TextField;

static const TextField board_fields[] = {
    {"mfg_date", offsetof(FruBoardInfo, mfg_date)},
    {"manufacturer", offsetof(FruBoardInfo, manufacturer)},
    {"product_name", offsetof(FruBoardInfo, product_name)},
    {"serial_number", offsetof(FruBoardInfo, serial_number)},
    {"part_number", offsetof(FruBoardInfo, part_number)},
    {"fru_file_id", offsetof(FruBoardInfo, fru_file_id)},
};

static const TextField product_fields[] = {
    {"manufacturer", offsetof(FruProductInfo, manufacturer)},
    {"product_name", offsetof(FruProductInfo, product_name)},
    {"part_number", offsetof(FruProductInfo, part_number)},
    {"version", offsetof(FruProductInfo, version)},
    {"serial_number", offsetof(FruProductInfo, serial_number)},
    {"asset_tag", offsetof(FruProductInfo, asset_tag)},
    {"fru_file_id", offsetof(FruProductInfo, fru_file_id)},
};

static void print_fields(const char *area, const void *record, const TextField *fields,
                         size_t count) {
    for (size_t i = 0; i < count; ++i) {
        printf("%s.%s|", area, fields[i].name);
        print_text((const char *)record + fields[i].offset);
        putchar('\n');
    }
}

static void print_customs(const char *area, const FruCustomField *custom) {
    for (int i = 0; i < FRU_CUSTOM_FIELD_COUNT; ++i) {
        if (custom[i].type_length == 0) {
            continue;
        }
        printf("%s.custom|%d|%02x|", area, i, custom[i].type_length);
        for (int b = 0; b < (custom[i].type_length & 0x3F); ++b) {
            printf("%02x", custom[i].bytes[b]);
        }
        putchar('\n');
    }
}

static void print_board(IpmiIntf *intf, int id) {
    FruBoardInfo b;
    const int rc = fru_board_info_get(intf, id, &b);
    if (quiet) {
        return;
    }
    printf("board|%d|%u\n", rc, b.valid);
    printf("board.mfg_minutes|%ld\n", (long)b.mfg_minutes);
    print_fields("board", &b, board_fields, sizeof board_fields / sizeof board_fields[0]);
    print_customs("board", b.custom);
}

static void print_product(IpmiIntf *intf, int id) {
    FruProductInfo p;
    const int rc = fru_product_info_get(intf, id, &p);
    if (quiet) {
        return;
    }
    printf("product|%d|%u\n", rc, p.valid);
    print_fields("product", &p, product_fields, sizeof product_fields / sizeof product_fields[0]);
    print_customs("product", p.custom);
}

static void print_multirecords(IpmiIntf *intf, int id) {
    FruMultiRecord *list = NULL;
    const int rc = fru_multi_record_info_get(intf, id, &list);
    if (!quiet) {
        printf("multirecord|%d\n", rc);
    }
    while (list != NULL) {
        FruMultiRecord *next = list->next;
        if (!quiet) {
            printf("multirecord|%02x|%02x|%u\n", list->type_id, list->format, list->length);
        }
        free(list);
        list = next;
    }
}

static void print_mac(IpmiIntf *intf) {
    MacInfo mac;
    memset(&mac, 0, sizeof mac);
    const int rc = board_info_get_mac(intf, &mac);
    if (quiet) {
        return;
    }
    printf("mac|%d|", rc);
    print_text(mac.text);
    printf("|%02x:%02x:%02x:%02x:%02x:%02x|%u\n", mac.mac[0], mac.mac[1], mac.mac[2], mac.mac[3],
           mac.mac[4], mac.mac[5], mac.suffix);
}

int main(int argc, char **argv) {
    int first = 1;
    if (argc > 1 && strcmp(argv[1], "-q") == 0) {
        quiet = 1;
        first = 2;
    }
    if (first >= argc) {
        fprintf(stderr, "usage: fru_print [-q] ID...\n");
        return 2;
    }
    IpmiIntf *intf = NULL;
    if (open_ipmi_intf(&intf) != 0) {
        fprintf(stderr, "fru_print: cannot open the IPMI interface\n");
        return 2;
    }
    for (int i = first; i < argc; ++i) {
        const int id = atoi(argv[i]);
        print_board(intf, id);
        print_product(intf, id);
        print_multirecords(intf, id);
        if (id == 0 && !quiet) {
            print_mac(intf);
        }
    }
    close_ipmi_intf(intf);
    return 0;
}
