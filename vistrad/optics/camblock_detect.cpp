// Lens detection: cameras that take one of several MCU lenses read the
// lens's id once and select the lens's module for the channel; the product
// configuration then builds that module as if it had been named.

#include <stddef.h>

#include "camblock.h"
#include "camblock_mcu.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/prodconf.h"

namespace
{

const struct {
	int32_t id;
	const char *module;
} lens_modules[] = {
    {0, "camblock_tamron_df010nl"},       {2, "camblock_tamron_df020nl"},
    {6, "camblock_tamron_df024nl"},       {9, "camblock_tamron_de011n"},
    {13, "camblock_ricom_af02812db_icr"}, {15, "camblock_cbc_tsf2_9z2813bhrw_f5"},
    {20, "camblock_ytot_yt50011db_icr"},  {21, "camblock_cbc_nsf2_3z5915bmrw_f5"},
};

const char *module_for(int32_t id)
{
	for (const auto &m : lens_modules)
		if (m.id == id)
			return m.module;
	return nullptr;
}

// One read of the lens id over a bare block; the device is closed again so
// that the selected module opens it by its own settings.
int32_t read_lens_id(struct platform *platform, const struct prodconf_product_constants *constants)
{
	struct camblock_lens_device *device =
	    camblock_lens_device_open(platform, constants ? constants->camblock_i2c_device : nullptr);
	struct camblock *probe = camblock_new();
	probe->mcu.device = device;
	probe->mcu.address = (uint16_t)(constants ? constants->camblock_i2c_address : 0);
	camblock_mcu_set_register_slots(probe);
	camblock_add_platform(probe, platform);
	int32_t id = camblock_read_register(probe, CAMBLOCK_REG_LENS_ID);
	camblock_lens_device_free(platform, device);
	probe->mcu.device = nullptr;
	camblock_destroy(probe);
	return id;
}

} // namespace

int camblock_detect(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	int channel = ((stream_id < 0 ? 0 : stream_id) >> 8) & 0xFF;
	const struct prodconf_product_constants *constants =
	    conf && channel < PRODCONF_CHANNELS ? &conf->constants[channel] : nullptr;
	const char *module = module_for(read_lens_id(control_get_platform(engine), constants));
	if (!module) {
		debug_output(DEBUG_ERROR, 0, "Failed to create camblock :(\n");
		return 0;
	}
	if (conf)
		prodconf_select_module(conf, channel, PRODCONF_STATE_CAMBLOCK, module);
	return 0;
}
