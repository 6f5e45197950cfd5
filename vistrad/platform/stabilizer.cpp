#include "stabilizer.h"

#include <glib.h>
#include <stddef.h>

#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"

namespace
{

struct exposure_delay_config {
	int32_t exposure_delay;
};

const prodconf_field exposure_delay_fields[] = {
    prodconf_field_i32("exposure_delay", PRODCONF_INT, PRODCONF_REQUIRED,
                       offsetof(exposure_delay_config, exposure_delay), 0),
};
const prodconf_schema exposure_delay_schema = {"sensor_exposure_delay", sizeof(exposure_delay_config),
                                               exposure_delay_fields, G_N_ELEMENTS(exposure_delay_fields)};

// Calls the slot with the arguments after the object, or gives -1 when the
// object or the slot is missing.
template <typename Slot, typename... Args>
int call(struct stabilizer *stabilizer, Slot stabilizer::*slot, Args... args)
{
	if (!stabilizer || !(stabilizer->*slot))
		return -1;
	return (stabilizer->*slot)(stabilizer, args...);
}

} // namespace

struct stabilizer *stabilizer_new(void)
{
	return g_new0(struct stabilizer, 1);
}

void stabilizer_destroy(struct stabilizer *stabilizer)
{
	if (!stabilizer)
		return;
	if (stabilizer->destroy)
		stabilizer->destroy(stabilizer);
	stabilizer->platform = nullptr;
	g_free(stabilizer);
}

int stabilizer_set_pause(struct stabilizer *stabilizer, int32_t stream_id, int pause)
{
	return call(stabilizer, &stabilizer::set_pause, stream_id, pause);
}

int stabilizer_set_frame_geometry(struct stabilizer *stabilizer, int channel, int32_t width, int32_t height,
                                  int32_t line_time)
{
	return call(stabilizer, &stabilizer::set_frame_geometry, channel, width, height, line_time);
}

int stabilizer_set_exposure_delay(struct stabilizer *stabilizer, int channel, struct prodconf *conf)
{
	if (!stabilizer || !stabilizer->set_exposure_delay)
		return -1;
	// The item is per stream: the channel's first stream holds its value.
	void *item = nullptr;
	if (!prodconf_read_item(conf, &exposure_delay_schema, "sensor_exposure_delay", channel << 8, &item) ||
	    !item)
		return -1;
	int32_t delay = static_cast<exposure_delay_config *>(item)->exposure_delay;
	g_free(item);
	return stabilizer->set_exposure_delay(stabilizer, channel, delay);
}

int stabilizer_set_exposure_delay_value(struct stabilizer *stabilizer, int channel, int32_t delay)
{
	return call(stabilizer, &stabilizer::set_exposure_delay, channel, delay);
}

int stabilizer_op2(struct stabilizer *stabilizer, intptr_t a, intptr_t b)
{
	return call(stabilizer, &stabilizer::op2, a, b);
}

int stabilizer_op4(struct stabilizer *stabilizer, intptr_t a)
{
	return call(stabilizer, &stabilizer::op4, a);
}

int stabilizer_op6(struct stabilizer *stabilizer, intptr_t a, intptr_t b)
{
	return call(stabilizer, &stabilizer::op6, a, b);
}

int stabilizer_op7(struct stabilizer *stabilizer, intptr_t a, intptr_t b)
{
	return call(stabilizer, &stabilizer::op7, a, b);
}

int stabilizer_op8(struct stabilizer *stabilizer, intptr_t a, intptr_t b)
{
	return call(stabilizer, &stabilizer::op8, a, b);
}

int stabilizer_op10(struct stabilizer *stabilizer, intptr_t a, intptr_t b)
{
	return call(stabilizer, &stabilizer::op10, a, b);
}

int stabilizer_op11(struct stabilizer *stabilizer, intptr_t a, intptr_t b)
{
	return call(stabilizer, &stabilizer::op11, a, b);
}

int stabilizer_op12(struct stabilizer *stabilizer, intptr_t a, intptr_t b, intptr_t c)
{
	return call(stabilizer, &stabilizer::op12, a, b, c);
}

int stabilizer_op13(struct stabilizer *stabilizer, intptr_t a, uint8_t b)
{
	return call(stabilizer, &stabilizer::op13, a, b);
}
