/*
 * Reads and decodes the board, product and multirecord areas of FRU devices
 * through libhvl and prints nothing: what `ipmitool -v fru print` reads,
 * which the benchmark measures it against (hwboard's `fru` report shows the
 * same decoding). Usage: fru_read ID... A C program on the public API alone.
 */
#include <hvl/hvl_ipmi_fru.h>
#include <hvl/hvl_ipmi_interface.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    IpmiIntf *intf = NULL;
    if (argc < 2) {
        fprintf(stderr, "usage: fru_read ID...\n");
        return 2;
    }
    if (open_ipmi_intf(&intf) != 0) {
        fprintf(stderr, "fru_read: cannot open the IPMI interface\n");
        return 2;
    }
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        const int id = atoi(argv[i]);
        FruBoardInfo board;
        FruProductInfo product;
        FruMultiRecord *list = NULL;
        failed |= fru_board_info_get(intf, id, &board) != 0;
        failed |= fru_product_info_get(intf, id, &product) != 0;
        failed |= fru_multi_record_info_get(intf, id, &list) != 0;
        while (list != NULL) {
            FruMultiRecord *next = list->next;
            free(list);
            list = next;
        }
    }
    close_ipmi_intf(intf);
    return failed ? 1 : 0;
}
