// Until the capture library is bound, the current video input is kept here,
// as the library would keep its "current_vin" setting.
#include "videoinput.h"

static uint32_t current_vin;

gboolean videoinput_set_current_vin(int input, uint32_t vin, const char *)
{
	if (input < 0 || input > 1)
		return FALSE;
	current_vin = vin;
	return TRUE;
}

uint32_t videoinput_input_get_current_vin(void)
{
	return current_vin;
}

// Not bound yet: the rate is refused.
gboolean videoinput_input_set_framerate(int, double)
{
	return FALSE;
}
