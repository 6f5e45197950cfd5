// The DC iris: the SoC drives it with an analogue level and it regulates
// itself, so the daemon can only hand it a level.

#include <soloff.h>

#include "core/debug_output.h"
#include "iris.h"
#include "platform/platform_vorsalind.h"

namespace
{

int dc_move_to(struct iris *iris, int32_t level, int)
{
	return platform_dc_iris_set(iris->platform, iris, level);
}

} // namespace

struct iris *iris_dc_new(void)
{
	bool ok = true;
	if (iris_lib_irismgr_enabled()) {
		int id = iris_lib_get_type_id();
		if (id < 100 || id > 199) {
			debug_output(DEBUG_ERROR, 0,
			             "Detected DC iris connected but iris TypeID %d is not a DC iris\n", id);
			ok = false;
		}
	}
	struct iris *iris = iris_new();
	iris->type = IRIS_TYPE_DC;
	iris_set_state_params(1, ok);
	iris_set_positionable_param(0);
	iris->move_to = dc_move_to;
	return iris;
}

void *prodconf_iris_dc_create(struct prodconf *, struct control *, int32_t)
{
	return iris_dc_new();
}
