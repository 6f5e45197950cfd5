#include "step_support.h"

#include "core/control_timeout.h"

bool step_param_register(GList **list, uint32_t id, int32_t stream_id, param_callback_fn fn, void *user_data,
                         void *block)
{
	int cb = param_register_callback(id, stream_id, fn, PARAM_NOTIFY_ON_CHANGE, user_data, block);
	if (cb < 0) {
		g_free(block);
		return false;
	}
	step_param_cb *entry = g_new(step_param_cb, 1);
	*entry = {cb, stream_id, id};
	*list = g_list_append(*list, entry);
	return true;
}

void step_param_unregister_all(GList **list)
{
	for (GList *l = *list; l; l = l->next) {
		step_param_cb *cb = static_cast<step_param_cb *>(l->data);
		param_value key = {};
		key.id = cb->param_id;
		key.stream_id = cb->stream_id;
		param_unregister_callback(cb->callback_id, &key);
	}
	g_list_free_full(*list, g_free);
	*list = nullptr;
}

bool step_param_read(uint32_t id, int32_t stream_id, struct param_value *out)
{
	*out = {};
	out->id = id;
	out->stream_id = stream_id;
	if (param_get(out) != 0)
		return false;
	g_free(out->text);
	out->text = nullptr;
	return true;
}

struct control_timeout *step_timeout_start(struct control *engine, struct algo_step *step, int32_t stream_id,
                                           const struct control_timestamp *interval)
{
	control_timeout *timeout = control_create_timeout(engine, step);
	if (!timeout)
		return nullptr;
	timeout->job.stream_id = stream_id;
	control_start_timeout(engine, timeout, interval);
	return timeout;
}
