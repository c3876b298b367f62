/* The USB run-time's view of the descriptor tables.
 *
 * The driver compiles a ".usb" description into C: for each device a byte
 * table (device descriptor, configurations with their interfaces,
 * endpoints and functional descriptors, string descriptors) and a
 * USB_descriptor_table <device>_table that finds its parts. That C includes
 * this header. USB_CONST places the tables: const (program memory) unless
 * the including file defines it first.
 */
#ifndef __VKUSB_H
#define __VKUSB_H

#ifndef USB_CONST
#define USB_CONST const
#endif

typedef struct {
    USB_CONST unsigned char *device;                 /* the device descriptor, 18 bytes */
    USB_CONST unsigned char * USB_CONST *configurations; /* each configuration descriptor */
    USB_CONST unsigned char * USB_CONST *strings;    /* string descriptor 0 (languages), 1, ... */
    USB_CONST unsigned short *conf_sizes;            /* total bytes of each configuration */
    unsigned char conf_cnt;                          /* entries of configurations */
    unsigned char string_cnt;                        /* entries of strings */
} USB_descriptor_table;

#endif
