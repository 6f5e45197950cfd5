#include "iris.h"

#include <glib.h>

#include "core/debug_output.h"

static int iris_default_hook(struct iris *) { return -1; }

struct iris *iris_new(void)
{
    iris *i = g_new0(iris, 1);
    i->device = -1;
    i->hooks[0] = iris_default_hook;
    i->hooks[1] = iris_default_hook;
    i->destroy = iris_destroy_orig;
    return i;
}

void iris_add_platform(struct iris *iris, struct platform *platform)
{
    if (!iris) {
        debug_output(DEBUG_WARNING, 0, "%s: Got null iris object.\n", __func__);
        return;
    }
    iris->platform = platform;
}

void iris_destroy_orig(struct iris *iris)
{
    if (!iris) {
        debug_output(DEBUG_WARNING, 0, "%s: Got null iris object.\n", __func__);
        return;
    }
    iris->platform = nullptr;
    g_free(iris);
}

void iris_destroy(struct iris *iris)
{
    if (!iris) {
        debug_output(DEBUG_WARNING, 0, "%s: Got null iris object.\n", __func__);
        return;
    }
    if (iris->destroy)
        iris->destroy(iris);
}
