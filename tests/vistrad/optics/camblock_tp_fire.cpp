// Fires each lens tracepoint once or twice from a lens block on the
// simulated lens controller, so that a tracing session can record them:
//   i2c_done (770, 2), focus_move_abs (1000, 0), i2c_done (513, 1000),
//   i2c_done (771, 7) for a failed write, focus_move_abs (2000, 0) and
//   motor_blocked while the temperature guard holds the motors.
// Exits 0 when every step did what it should.

#include <errno.h>
#include <glib.h>
#include <simsoc_lens_mcu.h>
#include <stdio.h>

#include "optics/camblock_mcu.h"
#include "optics/focus_zoom.h"
#include "optics/lens_components.h"
#include "platform/platform.h"

int main()
{
	simsoc_lens_mcu *mcu = simsoc_lens_mcu_add(1, 0x43);
	platform *plat = g_new0(platform, 1);
	camblock *block =
	    camblock_mcu_common(nullptr, plat, 0, camblock_lens_device_open(plat, "/dev/i2c-1"), 0x43);
	focus_object *focus = camblock_focus_new(block, CAMBLOCK_LENS_TAMRON_DF010NL, 0);
	focus_add_platform(focus, plat);
	camblock_set_focus(block, focus);

	int failures = 0;
	failures += camblock_write_register(block, 0x302, 2) != 0;
	failures += focus_move_abs(focus, 1000, 0) != 0;
	simsoc_lens_mcu_fail(mcu, 0x303, SIMSOC_LENS_WRITE, EIO);
	failures += camblock_write_register(block, 0x303, 7) != -4;
	block->temperature_guard = g_new0(camblock_temperature_guard, 1);
	block->temperature_guard->blocked = 1;
	failures += focus_move_abs(focus, 2000, 0) != 0;

	focus_destroy(focus);
	camblock_destroy(block);
	g_free(plat);
	simsoc_lens_mcu_reset();
	if (failures)
		fprintf(stderr, "camblock_tp_fire: %d steps failed\n", failures);
	return failures ? 1 : 0;
}
