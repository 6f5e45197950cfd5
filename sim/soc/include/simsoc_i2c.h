/* I2C adapters "/dev/i2c-<bus>" with I2C_RDWR. Clients sit per bus and 7-bit
 * address; a message to an address without a client is not acknowledged
 * (ENXIO). Every message is logged, "i2c-<bus>: 0x<addr> w|r <bytes>", and
 * kept for simsoc_i2c_messages().
 *
 * The register-file client here keeps 65536 bytes: a write message's first
 * two bytes (big-endian) set the register pointer and the rest are stored
 * from there; a read message returns bytes from the pointer on. Lens
 * controllers come as clients of their own. */
#ifndef SIMSOC_I2C_H
#define SIMSOC_I2C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct simsoc_i2c_client {
	/* A transfer message; returns 0 or a negative errno. */
	int (*transfer)(void *client, int read, uint8_t *buf, size_t len);
	void *client;
} simsoc_i2c_client;

void simsoc_i2c_add_client(unsigned bus, uint8_t addr, const simsoc_i2c_client *client);
void simsoc_i2c_add_register_file(unsigned bus, uint8_t addr);
/* The address answers no more (its client is forgotten). */
void simsoc_i2c_remove_client(unsigned bus, uint8_t addr);
/* A byte of a register-file client, -1 without one. */
int simsoc_i2c_register_byte(unsigned bus, uint8_t addr, uint16_t reg);
/* From now on messages to the address fail: ENXIO (no acknowledge), EIO, or
 * 0 to succeed again. delay_us delays each message. */
void simsoc_i2c_set_fault(unsigned bus, uint8_t addr, int err, unsigned delay_us);
/* The messages so far, one logged line each, in one malloc'd string. */
char *simsoc_i2c_messages(void);
/* Forgets clients, faults and messages. */
void simsoc_i2c_reset(void);

#ifdef __cplusplus
}
#endif

#endif
