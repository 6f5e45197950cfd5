/*
 * Helpers of the SoC's kernel support package: its proc directory, board
 * I2C device relocation and the SPI controller calls.
 */
#ifndef VORSALIND_PRIV_H
#define VORSALIND_PRIV_H

#include <linux/proc_fs.h>
#include <linux/types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct proc_dir_entry *get_vorsalind_proc_dir(void);

/* Moves the board's predeclared video-input I2C device on bus to addr
 * (7-bit) and renames it, so that the driver called name binds to it. */
int vorpriv_i2c_update_addr(const char *name, int bus, int addr);

struct vorsalind_spi_cfg {
	u8 bus_id;
	u8 cs_id;
	u8 spi_mode;
	u8 bits_per_word;
	u32 baud_rate;
};

int vorsalind_spi_write_then_read(const struct vorsalind_spi_cfg *cfg, const u8 *tx, u32 n_tx, u8 *rx,
                                  u32 n_rx);
int vorsalind_spi_write(const struct vorsalind_spi_cfg *cfg, const u8 *tx, u32 n_tx);

#ifdef __cplusplus
}
#endif

#endif
