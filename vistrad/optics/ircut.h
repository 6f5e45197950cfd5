#pragma once
// IR-cut filter object: moves one infrared-cut filter in (day) or out
// (night). Eight configuration modules build them for the ways a camera
// drives its filter; each also installs the platform's daynight_switch.

#include <stdint.h>

struct platform;

// Kinds of filter (the type word).
enum {
	IRCUT_TYPE_PLAIN = 0,
	IRCUT_TYPE_TB6613FTG = 2,
	IRCUT_TYPE_H_BRIDGE = 10,
	IRCUT_TYPE_MULTI_H_BRIDGE = 11,
	IRCUT_TYPE_STM32 = 13,
	IRCUT_TYPE_TB6613FTG_STEPPER = 15,
	IRCUT_TYPE_LENS = 18,
	IRCUT_TYPE_GENERIC_DEV = 19,
	IRCUT_TYPE_SERIAL_LINK = 25,
	IRCUT_TYPE_MCU_I2C = 26,
};

struct ircut {
	uint32_t type;
	struct platform *platform;
	void *owner;
	uint8_t state; // 1 day, 0 night, where the driver records it
	int (*set)(struct ircut *ircut, int day);
	void (*destroy)(struct ircut *ircut);
	void *priv;
};

struct ircut *ircut_new(void);
struct ircut *ircut_new_lens(void);
void ircut_set_platform(struct ircut *ircut, struct platform *platform);
// The set operation's result; -2 without object, platform or operation.
int ircut_set(struct ircut *ircut, int day);
void ircut_destroy(struct ircut *ircut);

struct prodconf;
struct control;
// Module creators of the registry, one per IR-cut filter kind.
void *prodconf_ircut_mcu_i2c_generic_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_ircut_mcu_stm32f030xx_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_ircut_h_bridge_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_ircut_multi_h_bridge_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_ircut_generic_dev_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_ircut_tb6613ftg_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_ircut_tb6613ftg_stepper_create(struct prodconf *conf, struct control *engine,
                                              int32_t stream_id);
void *prodconf_ircut_serial_link_create(struct prodconf *conf, struct control *engine, int32_t stream_id);

// The TB6613FTG drive register value of a Q14 voltage: the nearest entry of
// the driver's 64-entry table, bit 7 set, bit 6 too for constant current.
uint32_t ircut_tb6613ftg_voltage_value(int32_t voltage, int constant_current);
