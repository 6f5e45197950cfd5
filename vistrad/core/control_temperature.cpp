// Only the release of a limit set lives here so far: the engine's stop needs
// it. Registration with the temperature service comes with its own work.
#include "control_temperature.h"

#include "control_private.h"

void control_free_temperature_limit_set(struct control *engine, struct control_temperature_limit_set *set)
{
    if (!set)
        return;
    for (auto *limit : set->limits) {
        if (!limit)
            continue;
        if (engine)
            engine->temperature_limits = g_list_remove(engine->temperature_limits, limit);
        g_free(limit);
    }
    g_free(set->user_data);
    g_free(set);
}
