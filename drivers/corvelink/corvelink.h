/*
 * TI FPD-Link III dual deserializer bridge: the driver's record of one
 * deserializer instance.
 */
#ifndef CORVELINK_H
#define CORVELINK_H

#include <linux/i2c.h>
#include <linux/types.h>
#include <vorsalind_vin.h>

#define CORVELINK_MAX_BRIDGES 4
#define CORVELINK_PORTS 2

/* serializer kinds behind a port */
#define CORVELINK_SER_UB913 0 /* DS90UB913/DS90UB933, parallel sensors */
#define CORVELINK_SER_UB953 1 /* DS90UB953, MIPI CSI-2 sensors */

struct corvelink {
	struct vors_vin_brg brg; /* the framework's part: keep first */
	u32 index;               /* byte of the id parameter */
	u32 port_mask;           /* as configured */
	u32 cur_mask;            /* in use */
	u8 dbg_addr;             /* debug target, 8-bit address */
	u8 reg_addr_width;       /* sensor register address bytes */
	u8 reg_value_width;      /* sensor register value bytes */
	struct i2c_client *client;
	u8 des_addr; /* 8-bit */
	u8 ser_alias[CORVELINK_PORTS];
	u8 sen_alias_bc;
	u8 sen_alias[CORVELINK_PORTS];
	u8 ser_kind[CORVELINK_PORTS];
	u32 input_mode;
	u32 vinc_slot; /* nibble of vinc_id this bridge took */
	char chip_id[6];
	bool gpio_fwd_done;
	bool gpio_probed;
	struct corvelink *next; /* further bridges of the same client */
};

#endif
