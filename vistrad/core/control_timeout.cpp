#include "control_timeout.h"

#include "control_private.h"
#include "debug_output.h"

namespace
{

void monotonic_now(struct timespec *now)
{
	clock_gettime(CLOCK_MONOTONIC, now);
}

control_clock_fn clock_now = monotonic_now;

control_timestamp now_stamp()
{
	struct timespec ts;
	clock_now(&ts);
	return {ts.tv_sec, ts.tv_nsec / 1000};
}

bool earlier(const control_timestamp &a, const control_timestamp &b)
{
	return a.sec < b.sec || (a.sec == b.sec && a.usec < b.usec);
}

bool later(const control_timestamp &a, const control_timestamp &b)
{
	return earlier(b, a);
}

bool is_typed(uint32_t type)
{
	return type >= CONTROL_TIMEOUT_TYPE_FIRST && type <= CONTROL_TIMEOUT_TYPE_LAST;
}

// Carries every whole second, so long intervals still give a valid deadline.
control_timestamp add_interval(const control_timestamp &now, const control_timestamp &interval)
{
	control_timestamp d = {now.sec + interval.sec, now.usec + interval.usec};
	d.sec += d.usec / 1000000;
	d.usec %= 1000000;
	if (d.usec < 0) {
		d.usec += 1000000;
		d.sec--;
	}
	return d;
}

void insert_pending(control *engine, control_timeout *timeout)
{
	GList *l = engine->pending_timeouts;
	int pos = 0;
	for (; l; l = l->next, pos++) {
		const control_timeout *t = static_cast<control_timeout *>(l->data);
		if (!earlier(t->deadline, timeout->deadline))
			break;
	}
	engine->pending_timeouts = g_list_insert(engine->pending_timeouts, timeout, pos);
}

} // namespace

void control_timeout_set_clock(control_clock_fn fn)
{
	clock_now = fn ? fn : monotonic_now;
}

// Reads the timeouts' clock, so that a test stepping that clock sees steps
// measure time the way their timeouts do.
void control_get_timestamp(struct control_timestamp *out)
{
	if (out)
		*out = now_stamp();
}

void control_timeouts_init(struct control *engine)
{
	engine->timeout_type_free = g_new(uint8_t, CONTROL_TIMEOUT_TYPES);
	for (int i = 0; i < CONTROL_TIMEOUT_TYPES; i++)
		engine->timeout_type_free[i] = 1;
}

void control_timeouts_stop(struct control *engine)
{
	pthread_mutex_lock(&engine->timeout_mutex);
	GList *pending = engine->pending_timeouts;
	engine->pending_timeouts = nullptr;
	pthread_mutex_unlock(&engine->timeout_mutex);
	// Typed timeouts went with their steps; what is left belongs to no step.
	for (GList *l = pending; l; l = l->next)
		control_destroy_timeout(static_cast<control_timeout *>(l->data), engine);
	g_list_free(pending);
	pthread_mutex_lock(&engine->timeout_mutex);
	g_free(engine->timeout_type_free);
	engine->timeout_type_free = nullptr;
	pthread_mutex_unlock(&engine->timeout_mutex);
}

struct control_timeout *control_create_timeout(struct control *engine, struct algo_step *step)
{
	if (!engine || !step)
		return nullptr;
	pthread_mutex_lock(&engine->timeout_mutex);
	int slot = -1;
	for (int i = 0; engine->timeout_type_free && i < CONTROL_TIMEOUT_TYPES; i++) {
		if (engine->timeout_type_free[i]) {
			slot = i;
			break;
		}
	}
	if (slot < 0) {
		pthread_mutex_unlock(&engine->timeout_mutex);
		debug_output(DEBUG_ERROR, 0, "No more timeout types!\n");
		return nullptr;
	}
	engine->timeout_type_free[slot] = 0;
	control_timeout *timeout = g_new0(control_timeout, 1);
	timeout->type = CONTROL_TIMEOUT_TYPE_FIRST + slot;
	timeout->job.type = timeout->type;
	timeout->owner = step;
	algo_step_add_timeout(step, timeout);
	algo_step_add_input(step, timeout->type);
	pthread_mutex_unlock(&engine->timeout_mutex);
	return timeout;
}

struct control_timeout *control_create_callback_timeout(struct control *engine, control_timeout_fn callback,
                                                        void *argument)
{
	if (!engine)
		return nullptr;
	control_timeout *timeout = g_new0(control_timeout, 1);
	timeout->callback = callback;
	timeout->argument = argument;
	return timeout;
}

int control_start_timeout(struct control *engine, struct control_timeout *timeout,
                          const struct control_timestamp *interval)
{
	if (!engine || !timeout)
		return -1;
	pthread_mutex_lock(&engine->timeout_mutex);
	if (interval)
		timeout->interval = *interval;
	engine->pending_timeouts = g_list_remove(engine->pending_timeouts, timeout);
	timeout->deadline = add_interval(now_stamp(), timeout->interval);
	insert_pending(engine, timeout);
	pthread_mutex_unlock(&engine->timeout_mutex);
	return 0;
}

int control_stop_timeout(struct control *engine, struct control_timeout *timeout)
{
	if (!engine || !timeout)
		return -1;
	pthread_mutex_lock(&engine->timeout_mutex);
	engine->pending_timeouts = g_list_remove(engine->pending_timeouts, timeout);
	pthread_mutex_unlock(&engine->timeout_mutex);
	return 0;
}

void control_destroy_timeout(struct control_timeout *timeout, struct control *engine)
{
	if (!timeout)
		return;
	if (engine) {
		pthread_mutex_lock(&engine->timeout_mutex);
		engine->pending_timeouts = g_list_remove(engine->pending_timeouts, timeout);
		if (is_typed(timeout->type) && engine->timeout_type_free)
			engine->timeout_type_free[timeout->type - CONTROL_TIMEOUT_TYPE_FIRST] = 1;
		pthread_mutex_unlock(&engine->timeout_mutex);
	}
	if (timeout->owner)
		timeout->owner->timeouts = g_list_remove(timeout->owner->timeouts, timeout);
	g_free(timeout);
}

int control_next_timeout(struct control *engine, struct control_timestamp *wait)
{
	if (!engine || !wait)
		return -1;
	pthread_mutex_lock(&engine->timeout_mutex);
	GList *first = engine->pending_timeouts;
	if (!first) {
		pthread_mutex_unlock(&engine->timeout_mutex);
		*wait = {1, 0};
		return 1;
	}
	control_timestamp d = static_cast<control_timeout *>(first->data)->deadline;
	pthread_mutex_unlock(&engine->timeout_mutex);

	control_timestamp now = now_stamp();
	if (!later(d, now))
		return 0;
	control_timestamp w = {d.sec - now.sec, d.usec - now.usec};
	if (w.usec < 0) {
		w.usec += 1000000;
		w.sec--;
	}
	// The main loop must wake at least once a second on the engine's account.
	if (w.sec > 1 || (w.sec == 1 && w.usec > 0))
		w = {1, 0};
	*wait = w;
	return 1;
}

GList *control_take_expired_timeouts(struct control *engine, GList *list)
{
	if (!engine)
		return list;
	control_timestamp now = now_stamp();
	pthread_mutex_lock(&engine->timeout_mutex);
	while (engine->pending_timeouts) {
		control_timeout *t = static_cast<control_timeout *>(engine->pending_timeouts->data);
		t->job.type = t->type;
		t->job.timestamp = now;
		if (later(t->deadline, now))
			break;
		engine->pending_timeouts =
		    g_list_delete_link(engine->pending_timeouts, engine->pending_timeouts);
		if (t->callback) {
			pthread_mutex_unlock(&engine->timeout_mutex);
			t->callback(engine, t->argument, t);
			pthread_mutex_lock(&engine->timeout_mutex);
		} else {
			list = g_list_prepend(list, &t->job);
		}
	}
	pthread_mutex_unlock(&engine->timeout_mutex);
	return list;
}

void control_destroy_callback_timeouts_if(struct control *engine, control_timeout_match_fn match, void *data)
{
	if (!engine || !match)
		return;
	GList *matched = nullptr;
	pthread_mutex_lock(&engine->timeout_mutex);
	for (GList *l = engine->pending_timeouts; l;) {
		GList *next = l->next;
		auto *t = static_cast<control_timeout *>(l->data);
		if (t->callback && match(t->callback, data)) {
			engine->pending_timeouts = g_list_delete_link(engine->pending_timeouts, l);
			matched = g_list_prepend(matched, t);
		}
		l = next;
	}
	pthread_mutex_unlock(&engine->timeout_mutex);
	g_list_free_full(matched, g_free);
}

int control_destroy_pending_callback_timeout(struct control *engine, control_timeout_fn callback,
                                             void *argument)
{
	if (!engine || !callback)
		return 0;
	control_timeout *found = nullptr;
	pthread_mutex_lock(&engine->timeout_mutex);
	for (GList *l = engine->pending_timeouts; l && !found; l = l->next) {
		auto *t = static_cast<control_timeout *>(l->data);
		if (t->callback == callback && t->argument == argument) {
			found = t;
			engine->pending_timeouts = g_list_delete_link(engine->pending_timeouts, l);
		}
	}
	pthread_mutex_unlock(&engine->timeout_mutex);
	g_free(found);
	return found != nullptr;
}
