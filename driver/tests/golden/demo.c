#ifndef USB_CONST
#define	USB_CONST	const
#endif


#include	<vkusb.h>

/* This structure is defined in vkusb.h, here for reference only

typedef struct
{
	USB_CONST unsigned char *				device,
							* USB_CONST *	configurations,
							* USB_CONST *	strings;
	USB_CONST unsigned short*				conf_sizes;
	unsigned char							conf_cnt, string_cnt;
}	USB_descriptor_table;
*/

// USB Device "plain"

static USB_CONST unsigned char plain_data[] = {
	18, 1,			// 18 byte device descriptor 
	0x00, 0x00,		// USB version
	0x00,0x00,0x00,		// class,subclass,protocol
	8,			// max packet size
	0x00, 0x00,		// Vendor ID: 0x0/0
	0x00, 0x00,		// Product ID: 0x0/0
	0x00, 0x00,		// Product release: 0x0/0
	0,			// manufacturer: ""
	0,			// product: ""
	1,			// Custom serial
	1,			// number of configurations

	// Configuration 1

		9, 2,		// 9 byte configuration descriptor 
		0x09, 0x00,	// total size of conf/interface/endpoint descriptors = 9
		0,		// number of interfaces in this configuration
		1,		// configuration identifier
		0,		// configuration name: ""
		0x80,		// attributes: Wakeup=no; bus powered
		0x00,		// power=0mA

	// string descriptor 0: language ids
	4, 3, 9, 4,

};
// sizeof table above should be 31

// Access tables for this device

static USB_CONST unsigned char * USB_CONST	plain_configurations[] =
{
	plain_data+18,
};

static USB_CONST unsigned short plain_conf_sizes[] =
{
	9,
};

static USB_CONST unsigned char * USB_CONST	plain_strings[] =
{
	plain_data+27,
	0,
};
USB_CONST USB_descriptor_table	plain_table =
{
	plain_data,
	plain_configurations,
	plain_strings,
	plain_conf_sizes,	1, 2,
};
// USB Device "demo"

static USB_CONST unsigned char demo_data[] = {
	18, 1,			// 18 byte device descriptor 
	0x00, 0x02,		// USB version
	0x00,0x00,0x00,		// class,subclass,protocol
	64,			// max packet size
	0xD8, 0x04,		// Vendor ID: 0x4D8/1240
	0x0B, 0x00,		// Product ID: 0xB/11
	0x00, 0x01,		// Product release: 0x100/256
	1,			// manufacturer: "Acme"
	1,			// product: "Acme"
	5,			// serial: "FILE0001"
	1,			// number of configurations

	// Configuration 1

		9, 2,		// 9 byte configuration descriptor 
		0x32, 0x00,	// total size of conf/interface/endpoint descriptors = 50
		2,		// number of interfaces in this configuration
		1,		// configuration identifier
		2,		// configuration name: "Main"
		0xE0,		// attributes: Wakeup=yes; self powered
		0x32,		// power=100mA

		// Interface 0
			9, 4,		// 9 byte interface descriptor 
			0,		// interface identifier
			0,		// alternate identifier
			2,		// number of endpoints
			0xFF,0x01,0x02,	// class,subclass,protocol
			3,		// interface name: "Data"
			// Endpoint 1
				7, 5,		// 7 byte endpoint descriptor 
				0x81,		// Endpoint number (in)
				0x02,		// bulk
				0x40, 0x00,	// Max packet size 64
				0,		// Latency/polling interval
			// Endpoint 2
				7, 5,		// 7 byte endpoint descriptor 
				0x02,		// Endpoint number (out)
				0x03,		// interrupt
				0x08, 0x00,	// Max packet size 8
				10,		// Latency/polling interval
		// Interface 1
			9, 4,		// 9 byte interface descriptor 
			1,		// interface identifier
			0,		// alternate identifier
			0,		// number of endpoints
			0xFE,0x01,0x02,	// class,subclass,protocol
			4,		// interface name: "DFU"

			// Function descriptor
				9, 0x21,	// length and type
			0x09, 0xE8, 0x03, 0x40, 0x00, 0x01, 0x01, 

	// string descriptor 0: language ids
	4, 3, 9, 4,
	// string descriptor 1: "Acme"
	10, 3, 65, 0, 99, 0, 109, 0, 101, 0, 
	// string descriptor 2: "Main"
	10, 3, 77, 0, 97, 0, 105, 0, 110, 0, 
	// string descriptor 3: "Data"
	10, 3, 68, 0, 97, 0, 116, 0, 97, 0, 
	// string descriptor 4: "DFU"
	8, 3, 68, 0, 70, 0, 85, 0, 
	// string descriptor 5: "FILE0001"
	18, 3, 70, 0, 73, 0, 76, 0, 69, 0, 48, 0, 48, 0, 48, 0, 49, 0, 

};
// sizeof table above should be 128

// Access tables for this device

static USB_CONST unsigned char * USB_CONST	demo_configurations[] =
{
	demo_data+18,
};

static USB_CONST unsigned short demo_conf_sizes[] =
{
	50,
};

static USB_CONST unsigned char * USB_CONST	demo_strings[] =
{
	demo_data+68,
	demo_data+72,
	demo_data+82,
	demo_data+92,
	demo_data+102,
	demo_data+110,
};
USB_CONST USB_descriptor_table	demo_table =
{
	demo_data,
	demo_configurations,
	demo_strings,
	demo_conf_sizes,	1, 6,
};
