/*
 * Video-input framework of the SoC's kernel support package: the records a
 * sensor or bridge driver fills and the operations it hands over.
 *
 * Written for this tree from what our drivers need of the framework; it
 * serves both the host simulation and the compile check against real kernel
 * headers, so it uses kernel types only.
 */
#ifndef VORSALIND_VIN_H
#define VORSALIND_VIN_H

#include <linux/i2c.h>
#include <linux/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VORSALIND_VIN_NAME_LEN 32

/* interface types of a video input */
#define VORSALIND_VIN_IF_PARALLEL 0
#define VORSALIND_VIN_IF_MIPI 3

/* time unit of the framework: 1/512,000,000 s */
#define VORSALIND_VIN_TIME_UNIT 512000000ULL

struct vorsalind_vin_config {
	u32 interface_type;
	u32 data_format;
	u32 lanes;
	u32 clk_mode;
	u32 sync_flags; /* bit 0: hsync active low, bit 1: vsync active low */
	u32 bits;
	u32 bayer_pattern;
	u32 width;
	u32 height;
	u32 start_x;
	u32 start_y;
	u32 hdr_mode;
};

struct vorsalind_vin_format {
	u32 video_mode;
	u32 device_mode;
	u32 pll_index;
	u32 width;
	u32 height;
	u32 start_x;
	u32 start_y;
	u32 read_width; /* read-out size, larger than the output in HDR */
	u32 read_height;
	u8 bits;
	u8 ratio;    /* 1: 4:3, 2: 16:9, 4: 1:1 */
	u8 hdr_mode; /* 0 linear, 2: 2x HDR */
	u32 max_fps; /* frame times in the framework's time unit */
	u32 default_fps;
	u32 default_shutter;
};

struct vorsalind_vin_pll {
	u32 ref_clk;
	u32 pixel_clk;
};

struct vorsalind_vin_mirror {
	u32 mode;
	u32 bayer_pattern; /* 255: take it from the mode */
};
#define VORSALIND_VIN_MIRROR_NONE 255
#define VORSALIND_VIN_BAYER_AUTO 255

struct vorsalind_vin_eis_info {
	u16 cell_width; /* 0.01 um */
	u16 cell_height;
	u64 vb_time; /* ns */
	u8 column_bin;
	u8 row_bin;
};

struct vorsalind_vin_aaa_info {
	u32 max_shutter_rows;
	u32 max_short_rows;
	u32 reserved;
};

struct vorsalind_vin_chip_status {
	s32 temperature; /* degrees Celsius */
};

struct vorsalind_vin_wdr_group {
	s64 data[4];
};

struct vorsalind_vin_device {
	struct i2c_client *client;
	char name[VORSALIND_VIN_NAME_LEN];
	u32 sensor_id;
	u32 vinc_id;
	u32 default_video_mode;
	s32 agc_db_min; /* dB in Q8.24 */
	s32 agc_db_max;
	s32 agc_db_step;
	u32 line_time;    /* framework time unit */
	u32 shutter_time; /* framework time unit */
	u64 vb_time;      /* ns */
	u32 active_lines; /* lines of the format in force */
	u32 bayer_pattern;
	int no_write; /* set while the framework forbids sensor writes */
	int streaming;
	const struct vorsalind_vin_format *cur_format;
	const struct vorsalind_vin_pll *cur_pll;
	const struct vorsalind_vin_ops *ops;
	const struct vorsalind_vin_format *formats;
	u32 num_formats;
	const struct vorsalind_vin_pll *plls;
	u32 num_plls;
	u32 priv_size;
	u64 priv[]; /* the driver's own data */
};

static inline void *vorsalind_vin_priv(struct vorsalind_vin_device *vdev)
{
	return vdev->priv;
}

struct vorsalind_vin_device;
typedef int (*vorsalind_vin_op_t)(struct vorsalind_vin_device *vdev, void *arg);

/* sensor operations; the framework calls what a driver fills */
struct vorsalind_vin_ops {
	int (*init_device)(struct vorsalind_vin_device *vdev);
	vorsalind_vin_op_t reset_device;
	vorsalind_vin_op_t get_format;
	vorsalind_vin_op_t check_format;
	int (*set_format)(struct vorsalind_vin_device *vdev, const struct vorsalind_vin_format *fmt);
	int (*set_fps)(struct vorsalind_vin_device *vdev, u64 frame_time);
	int (*set_agc_index)(struct vorsalind_vin_device *vdev, u32 index);
	int (*set_pll)(struct vorsalind_vin_device *vdev, u32 pll_index);
	int (*set_mirror_mode)(struct vorsalind_vin_device *vdev, struct vorsalind_vin_mirror *mirror);
	int (*set_stream_mode)(struct vorsalind_vin_device *vdev, u32 on);
	int (*get_eis_info)(struct vorsalind_vin_device *vdev, struct vorsalind_vin_eis_info *info);
	int (*read_reg)(struct vorsalind_vin_device *vdev, u32 reg, u32 *val);
	int (*write_reg)(struct vorsalind_vin_device *vdev, u32 reg, u32 val);
	int (*shutter2row)(struct vorsalind_vin_device *vdev, u32 *shutter_row);
	int (*set_shutter_row)(struct vorsalind_vin_device *vdev, u32 row);
	vorsalind_vin_op_t set_shutter_time;
	vorsalind_vin_op_t set_slow_shutter;
	int (*set_hold_mode)(struct vorsalind_vin_device *vdev, u32 on);
	int (*get_chip_status)(struct vorsalind_vin_device *vdev, struct vorsalind_vin_chip_status *status);
	vorsalind_vin_op_t get_sensor_info;
	int (*get_aaa_info)(struct vorsalind_vin_device *vdev, struct vorsalind_vin_aaa_info *info);
	vorsalind_vin_op_t set_dgain;
	vorsalind_vin_op_t get_dgain;
	int (*set_wdr_again_idx_group)(struct vorsalind_vin_device *vdev,
	                               struct vorsalind_vin_wdr_group *group);
	int (*get_wdr_again_idx_group)(struct vorsalind_vin_device *vdev,
	                               struct vorsalind_vin_wdr_group *group);
	int (*set_wdr_dgain_idx_group)(struct vorsalind_vin_device *vdev,
	                               struct vorsalind_vin_wdr_group *group);
	int (*get_wdr_dgain_idx_group)(struct vorsalind_vin_device *vdev,
	                               struct vorsalind_vin_wdr_group *group);
	int (*set_wdr_shutter_row_group)(struct vorsalind_vin_device *vdev,
	                                 struct vorsalind_vin_wdr_group *group);
	int (*get_wdr_shutter_row_group)(struct vorsalind_vin_device *vdev,
	                                 struct vorsalind_vin_wdr_group *group);
	vorsalind_vin_op_t set_wdr_blc;
	vorsalind_vin_op_t get_wdr_blc;
	int (*wdr_shutter2row)(struct vorsalind_vin_device *vdev, struct vorsalind_vin_wdr_group *group);
	vorsalind_vin_op_t reserved[8];
};

struct vorsalind_vin_device *vorsalind_vin_create_device(struct i2c_client *client, u32 sensor_id,
                                                         u32 priv_size);
int vorsalind_vin_register_device(struct vorsalind_vin_device *vdev, const struct vorsalind_vin_ops *ops,
                                  const struct vorsalind_vin_format *formats, u32 num_formats,
                                  const struct vorsalind_vin_pll *plls, u32 num_plls);
void vorsalind_vin_unregister_device(struct vorsalind_vin_device *vdev);
void vorsalind_vin_free_device(struct vorsalind_vin_device *vdev);
int vorsalind_set_vin_config(struct vorsalind_vin_device *vdev, const struct vorsalind_vin_config *cfg);

/*
 * Serializer/deserializer bridges: a bridge driver embeds this record at
 * the start of its own and registers it with its operations.
 */
struct vors_vin_brg {
	char name[VORSALIND_VIN_NAME_LEN];
	u32 id;
	u32 vinc_id;
	u32 clk;           /* Hz */
	u8 sensor_addr[2]; /* 8-bit I2C addresses of the sensors behind */
	u32 out_format;
	int stopping; /* set by the framework when it tears the link down */
	struct vorsalind_vin_ops *sensor_ops;
	struct vorsalind_vin_config *vin_cfg;
	const struct vors_vin_brg_ops *ops;
};

struct vors_vin_brg_ops {
	int (*dbg_write)(struct vors_vin_brg *brg, u32 chan, u32 reg, u32 val);
	int (*dbg_read)(struct vors_vin_brg *brg, u32 chan, u32 reg, u32 *val);
	int (*open)(struct vors_vin_brg *brg);
	int (*release)(struct vors_vin_brg *brg);
	int (*confirm_stream)(struct vors_vin_brg *brg, u32 port_mask);
	int (*check_lock)(struct vors_vin_brg *brg, u32 port_mask);
	int (*write_chan_reg)(struct vors_vin_brg *brg, u32 chan_mask, u32 reg, u32 val, u32 count);
	int (*read_chan_reg)(struct vors_vin_brg *brg, u32 chan, u32 reg, u32 *val);
	int (*hw_init)(struct vors_vin_brg *brg, u32 port_mask);
	int (*hw_reset)(struct vors_vin_brg *brg, u32 port_mask);
	int (*hw_close)(struct vors_vin_brg *brg);
	int (*irq_callback)(struct vors_vin_brg *brg);
	int (*get_status)(struct vors_vin_brg *brg, u32 port, u32 *status);
	int (*set_clk_si)(struct vors_vin_brg *brg, u32 port_mask, u32 clk);
	int (*vin_config)(struct vors_vin_brg *brg, u32 port_mask);
	int (*set_fsync)(struct vors_vin_brg *brg, u32 port_mask, u32 on);
	int (*vout_config)(struct vors_vin_brg *brg, u32 port_mask);
};

int vors_register_vin_brg(struct vors_vin_brg *brg, const struct vors_vin_brg_ops *ops, u32 nr_vin);
void vors_unregister_vin_brg(struct vors_vin_brg *brg);

#ifdef __cplusplus
}
#endif

#endif
