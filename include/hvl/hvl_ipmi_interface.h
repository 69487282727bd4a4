/*
 * IPMI interface: the object through which every IPMI request of the library
 * travels, and its one kind, the OpenIPMI device transport on /dev/ipmi0.
 *
 * Callers build an IpmiRequest, call the interface's send operation and read
 * the IpmiResponse it filled. One request is answered by the next message the
 * driver delivers; there is no queue and no timeout.
 */
#ifndef HVL_IPMI_INTERFACE_H
#define HVL_IPMI_INTERFACE_H

#include <stdint.h>

#include "hvl_export.h"

HVL_BEGIN_DECLS

#define IPMI_OPENIPMI_DEVICE "/dev/ipmi0"
#define IPMI_MAX_DATA_LEN 1024
#define IPMI_INTF_NAME_SIZE 16
#define IPMI_INTF_DESC_SIZE 128

/* A request; the transport only reads it. */
typedef struct IpmiRequest {
    uint8_t netfn;       /* network function, 6 bits */
    uint8_t lun;         /* logical unit number, 2 bits */
    uint8_t cmd;         /* command number */
    uint16_t data_len;   /* number of bytes at data */
    const uint8_t *data; /* request data; may be null when data_len is 0 */
} IpmiRequest;

/* An answer, filled by the send operation when it returns 0. */
typedef struct IpmiResponse {
    uint8_t ccode;                   /* completion code, the first byte answered */
    uint8_t data[IPMI_MAX_DATA_LEN]; /* what followed the completion code */
    int32_t data_len;                /* bytes received minus 1 */
} IpmiResponse;

typedef struct IpmiIntf IpmiIntf;

struct IpmiIntf {
    char name[IPMI_INTF_NAME_SIZE];
    char desc[IPMI_INTF_DESC_SIZE];
    int32_t fd;              /* descriptor of the device, -1 while closed */
    int32_t opened;          /* 1 while usable */
    uint32_t my_addr;        /* IPMB address the driver uses as its own; 0 until learnt */
    uint32_t target_addr;    /* where requests go; 0 is the IPMC through the system interface */
    uint32_t target_channel; /* IPMB channel of a target */
    int (*open)(IpmiIntf *intf);
    void (*close)(IpmiIntf *intf);
    int (*send)(IpmiIntf *intf, const IpmiRequest *request, IpmiResponse *response);
};

/*
 * Creates and opens an interface into *intf: 0, or -2 with *intf null (a
 * null `intf` is logged). The caller owns the interface until it hands it
 * to close_ipmi_intf, which closes and frees it; null is ignored there.
 */
HVL_API int open_ipmi_intf(IpmiIntf **intf);
HVL_API void close_ipmi_intf(IpmiIntf *intf);

/* A new closed interface owned by the caller, or null when memory is exhausted. */
HVL_API IpmiIntf *ipmi_openipmi_create(void);
/* Closes the descriptor if it is still open and frees the object; null is accepted; 0. */
HVL_API int ipmi_intf_free(IpmiIntf *intf);

/*
 * The operations of the OpenIPMI transport, reached through the interface's
 * function pointers.
 * open: 0 (also when the IPMC has no address to give), 22 already open or
 * null, 19 no device, else the failure of ipmi_adjust_addr; a failed open
 * leaves the interface closed.
 * close: closes the descriptor; the object stays the caller's.
 * send: 0 when an answer was received into the caller's response (then judge
 * its ccode); 22 a null argument or the receive failed, 19 not open, -1 the
 * send or select call failed, 74 no answer. The request is only read.
 */
HVL_API int ipmi_openipmi_open(IpmiIntf *intf);
HVL_API void ipmi_openipmi_close(IpmiIntf *intf);
HVL_API int ipmi_openipmi_send_cmd(IpmiIntf *intf, const IpmiRequest *request,
                                   IpmiResponse *response);

/*
 * Asks the IPMC for its PICMG address information and makes its IPMB-0
 * address the driver's own. 0 done; 99 the IPMC has no address to give (the
 * interface is usable); 74 refused or answered too short; 22 null; else the
 * failure of send or of the driver.
 */
HVL_API int ipmi_adjust_addr(IpmiIntf *intf);

/*
 * The bytes as lower-case hexadecimal pairs without separators, in a buffer
 * the library owns and the next call reuses; null for no data, a length of 0
 * or above 1024.
 */
HVL_API const char *ipmi_hex_string(const uint8_t *data, int len);

/*
 * Targeting: the requests of an interface go to the IPMC until they are sent
 * to another controller on IPMB-L (IPMB channel 7).
 * set_ipml_target_addr: to the controller at `addr`; 0 is the IPMC again. 0,
 * or -2 for a null interface.
 * set_target_by_fruid: to the controller of the IPMC's FRU `fruid`, whose
 * AMC site the PICMG address query names; FRU 0 is the IPMC again. 0; -2 null
 * interface; else the failure of the address query, or 22 when the site has
 * no IPMB-L address. A failure leaves the target as it was.
 */
HVL_API int set_ipml_target_addr(IpmiIntf *intf, uint8_t addr);
HVL_API int set_target_by_fruid(IpmiIntf *intf, uint8_t fruid);

/* The little-endian number in the first 2 or 4 bytes; 0 for null. */
HVL_API uint16_t ipmi_get_le16(const uint8_t *bytes);
HVL_API uint32_t ipmi_get_le32(const uint8_t *bytes);

/*
 * Prints "TITLE (N bytes)" and the bytes to standard output, sixteen to a
 * line, each as a blank and two hexadecimal digits; nothing for no bytes.
 */
HVL_API void ipmi_print_hexdump(const uint8_t *data, int len, const char *title);

/* One row of a code table; a table ends with a row whose text is null. */
typedef struct ValueText {
    uint16_t value;
    const char *text;
} ValueText;

/*
 * The text of the first row of `table` with `value`; without one,
 * "Unknown (0x%02x)" of the value, in a buffer the library owns and the next
 * call reuses.
 */
HVL_API const char *ipmi_value_to_text(uint16_t value, const ValueText *table);
/*
 * The value of the first row whose text starts with `text`, letter case
 * aside (an abbreviation names the first row it begins); 0 without one.
 */
HVL_API uint16_t ipmi_text_to_value(const char *text, const ValueText *table);

HVL_END_DECLS

#endif /* HVL_IPMI_INTERFACE_H */
