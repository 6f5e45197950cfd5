#include "daemon_sources.h"

#include "config.h"
#include "control.h"
#include "control_timeout.h"
#include "param_db.h"
#include "platform/input_source.h"
#include "platform/platform.h"

namespace
{

struct timer_source {
	GSource source;
	daemon_context *context;
};

struct input_source_record {
	GSource source;
	daemon_context *context;
	GPollFD *fds;
	int32_t count;
	daemon_dispatch_fn handler;
};

const gushort ready_events = G_IO_IN | G_IO_PRI | G_IO_OUT | G_IO_HUP; // 0x17

struct platform *poll_platform;

bool held(void)
{
	return daemon_is_paused() || daemon_get_temperature_halt();
}

platform *context_platform(const daemon_context *context)
{
	return context ? control_get_platform(context->engine) : nullptr;
}

gboolean timer_prepare(GSource *source, gint *timeout)
{
	daemon_context *context = reinterpret_cast<timer_source *>(source)->context;
	*timeout = -1;
	if (held())
		return FALSE;
	control_timestamp wait = {};
	if (control_next_timeout(context->engine, &wait) == 0) {
		*timeout = 0;
		return TRUE;
	}
	int64_t ms = wait.sec * 1000 + wait.usec / 1000;
	*timeout = ms < 0 ? 0 : (gint)ms;
	return FALSE;
}

gboolean timer_check(GSource *)
{
	return param_changes_pending() ? TRUE : FALSE;
}

gboolean timer_dispatch(GSource *source, GSourceFunc, gpointer)
{
	daemon_context *context = reinterpret_cast<timer_source *>(source)->context;
	if (held()) {
		// Parameter changes still reach their callbacks: one of them may end
		// the pause, and an undelivered change would keep this source ready.
		config_save_if_pending();
		param_distribute_callback_one_change();
		return G_SOURCE_CONTINUE;
	}
	GList *expired = control_take_expired_timeouts(context->engine, nullptr);
	daemon_dispatch(context, expired, nullptr);
	return G_SOURCE_CONTINUE;
}

GSourceFuncs timer_funcs = {timer_prepare, timer_check, timer_dispatch, nullptr, nullptr, nullptr};

void remove_polls(input_source_record *s)
{
	for (int i = 0; i < s->count; i++)
		g_source_remove_poll(&s->source, &s->fds[i]);
	g_free(s->fds);
	s->fds = nullptr;
	s->count = 0;
}

gboolean input_prepare(GSource *source, gint *timeout)
{
	auto *s = reinterpret_cast<input_source_record *>(source);
	platform *p = context_platform(s->context);
	*timeout = -1;
	gboolean ready = FALSE;
	if (!p)
		return FALSE;
	if (p->prepare)
		ready = (p->prepare(p) & 0xff) != 0;
	if (p->sources_changed) {
		daemon_input_source_configure(source);
		p->sources_changed = 0;
	}
	return ready;
}

gboolean input_check(GSource *source)
{
	auto *s = reinterpret_cast<input_source_record *>(source);
	for (int i = 0; i < s->count; i++)
		if (s->fds[i].revents & ready_events)
			return TRUE;
	return FALSE;
}

gboolean input_dispatch(GSource *source, GSourceFunc, gpointer)
{
	auto *s = reinterpret_cast<input_source_record *>(source);
	platform *p = context_platform(s->context);
	int *ready = g_new(int, s->count > 0 ? s->count : 1);
	int n = 0;
	for (int i = 0; i < s->count; i++)
		if (s->fds[i].revents & ready_events)
			ready[n++] = s->fds[i].fd;
	GList *records = p && p->dispatch_ready_fds ? p->dispatch_ready_fds(p, ready, n) : nullptr;
	g_free(ready);
	GList *release = nullptr;
	s->handler(s->context, records, &release);
	platform_release_data(p, release);
	g_list_free(release);
	return G_SOURCE_CONTINUE;
}

void input_finalize(GSource *source)
{
	auto *s = reinterpret_cast<input_source_record *>(source);
	g_free(s->fds);
	s->fds = nullptr;
	s->count = 0;
}

GSourceFuncs input_funcs = {input_prepare, input_check, input_dispatch, input_finalize, nullptr, nullptr};

gint platform_poll(GPollFD *fds, guint count, gint timeout)
{
	// GPollFD has the layout of struct pollfd on this system.
	if (poll_platform && poll_platform->poll)
		return poll_platform->poll(reinterpret_cast<struct pollfd *>(fds), count, timeout);
	return g_poll(fds, count, timeout);
}

} // namespace

GSource *daemon_timer_source_new(struct daemon_context *context)
{
	GSource *source = g_source_new(&timer_funcs, sizeof(timer_source));
	if (source)
		reinterpret_cast<timer_source *>(source)->context = context;
	return source;
}

GSource *daemon_input_source_new(struct daemon_context *context, daemon_dispatch_fn handler)
{
	GSource *source = g_source_new(&input_funcs, sizeof(input_source_record));
	if (!source)
		return nullptr;
	auto *s = reinterpret_cast<input_source_record *>(source);
	s->context = context;
	s->handler = handler;
	return source;
}

int daemon_input_source_configure(GSource *source)
{
	auto *s = reinterpret_cast<input_source_record *>(source);
	remove_polls(s);
	int *fds = nullptr;
	int *writers = nullptr;
	int count = 0;
	if (platform_get_input_fds(context_platform(s->context), &fds, &writers, &count) != PLATFORM_OK)
		return -1;
	s->fds = g_new0(GPollFD, count > 0 ? count : 1);
	s->count = count;
	for (int i = 0; i < count; i++) {
		s->fds[i].fd = fds[i];
		s->fds[i].events = (gushort)((writers[i] ? G_IO_OUT : G_IO_IN) | G_IO_ERR | G_IO_HUP);
		g_source_add_poll(source, &s->fds[i]);
	}
	g_free(fds);
	g_free(writers);
	return 0;
}

void daemon_set_poll_platform(GMainContext *main_context, struct platform *platform)
{
	poll_platform = platform;
	g_main_context_set_poll_func(main_context, platform_poll);
}
