// The IR-cut filter modules. No driver is built yet: each creator makes
// nothing, and the registry logs the entry as not created.

#include "ircut.h"

void *prodconf_ircut_mcu_i2c_generic_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *prodconf_ircut_mcu_stm32f030xx_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *prodconf_ircut_h_bridge_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *prodconf_ircut_multi_h_bridge_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *prodconf_ircut_generic_dev_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *prodconf_ircut_tb6613ftg_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *prodconf_ircut_tb6613ftg_stepper_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}

void *prodconf_ircut_serial_link_create(struct prodconf *, struct control *, int32_t)
{
	return nullptr;
}
