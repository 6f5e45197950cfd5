// Reading and writing the key file and the legacy import are not here yet:
// the configuration counts as unavailable, so every parameter runs on its
// default and nothing is written.
#include "config.h"

#include "daemon.h"
#include "param_db.h"
#include "param_map.h"

namespace {

void reset_if_unset(uint32_t id, int32_t stream_id)
{
    param_value probe = {};
    probe.id = id;
    probe.stream_id = stream_id;
    if (param_is_set(&probe) < 0)
        param_reset(id, stream_id);
}

} // namespace

int config_load(struct daemon_context *context)
{
    config_reset_unset_params(context ? context->streams : nullptr);
    return 0;
}

void config_save_if_pending(void) {}

void config_reset_unset_params(GList *stream_ids)
{
    for (int i = 0;; i++) {
        const struct param_def *def = param_def_by_index(i);
        if (!def || def->id == 0)
            break;
        for (GList *l = stream_ids; l; l = l->next)
            reset_if_unset(def->id, GPOINTER_TO_INT(l->data));
        reset_if_unset(def->id, -1);
    }
}
