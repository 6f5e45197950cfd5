#pragma once
// IR-cut filter object. Only the fields and life cycle that the platform uses
// are here yet; the IR-cut modules complete it.

#include <stdint.h>

struct platform;

struct ircut {
	uint32_t type;
	struct platform *platform;
	void *owner;
	uint8_t state;
	int (*set)(struct ircut *ircut, int day);
	void (*destroy)(struct ircut *ircut);
	void *priv;
};

struct ircut *ircut_new(void);
void ircut_set_platform(struct ircut *ircut, struct platform *platform);
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
