#include "serial_link.h"

#include <dlfcn.h>
#include <stdlib.h>

#include "core/control.h"
#include "core/debug_output.h"

namespace
{

// One library per process; the daemon's main loop is its only user.
void *library;
int references;

template <typename Slot, typename... Args>
int call(struct serial_link *link, Slot serial_link::*slot, Args... args)
{
	if (!link || !(link->*slot))
		return -1;
	return (link->*slot)(link, args...);
}

} // namespace

void *serial_link_open_dynamic_lib(const char *first, const char *second)
{
	if (references == 0) {
		void *handle = first ? dlopen(first, RTLD_NOW) : nullptr;
		if (!handle && second)
			handle = dlopen(second, RTLD_NOW);
		if (!handle) {
			const char *why = dlerror();
			debug_output(DEBUG_ERROR, 0, "Failed to load the serial link lib: %s\n",
			             why ? why : "no file name");
			return nullptr;
		}
		library = handle;
	}
	// Every user gets the handle, so that each open has its close.
	references++;
	return library;
}

void serial_link_close_dynamic_lib(void *handle)
{
	references--;
	if (references < 0) {
		debug_output(DEBUG_WARNING, 0, "%s: Negative ref counter %d\n",
		             "serial_link_close_dynamic_lib", references);
		// A close without its open unloads nothing, and must not make the
		// next open believe the library is loaded.
		references = 0;
		return;
	}
	if (!handle || references != 0)
		return;
	if (dlclose(handle) != 0)
		debug_output(DEBUG_ERROR, 0, "Failed to close dynamic library (ref %p): %s\n", handle,
		             dlerror());
	if (handle == library)
		library = nullptr;
}

int serial_link_create(void *handle, struct control *engine, int32_t stream_id)
{
	auto create = reinterpret_cast<serial_link_create_fn>(
	    handle ? dlsym(handle, SERIAL_LINK_CREATE_SYMBOL) : nullptr);
	if (!create) {
		debug_output(DEBUG_ERROR, 0, "Failed to find symbol %s\n", SERIAL_LINK_CREATE_SYMBOL);
		serial_link_close_dynamic_lib(handle);
		return -1;
	}
	serial_link *link = create(stream_id);
	if (!link) {
		// Nothing to keep: an empty entry would hide the channel's links.
		serial_link_close_dynamic_lib(handle);
		return -1;
	}
	control_add_serial_link(engine, link, stream_id);
	return 0;
}

void serial_link_destroy(struct serial_link *link, int32_t stream_id)
{
	if (!link)
		return;
	if (link->destroy)
		link->destroy(link, stream_id);
	free(link);
}

int serial_link_prepare_capture_mode(struct serial_link *link, int32_t stream_id)
{
	return call(link, &serial_link::prepare_capture_mode, stream_id);
}

int serial_link_end_capture_mode(struct serial_link *link, struct prodconf_area *area, int32_t stream_id)
{
	return call(link, &serial_link::end_capture_mode, area, stream_id);
}

int serial_link_capture_mode_applied(struct serial_link *link, int32_t stream_id)
{
	return call(link, &serial_link::capture_mode_applied, stream_id);
}

int serial_link_set_ircut(struct serial_link *link, int channel, uint8_t state)
{
	return call(link, &serial_link::set_ircut, channel, state);
}

int serial_link_op2(struct serial_link *link, intptr_t a)
{
	return call(link, &serial_link::op2, a);
}

int serial_link_op3(struct serial_link *link, intptr_t a, intptr_t b)
{
	return call(link, &serial_link::op3, a, b);
}

int serial_link_op7(struct serial_link *link, intptr_t a)
{
	return call(link, &serial_link::op7, a);
}

int serial_link_op8(struct serial_link *link, intptr_t a, intptr_t b, intptr_t c)
{
	return call(link, &serial_link::op8, a, b, c);
}

int serial_link_op9(struct serial_link *link, intptr_t a, intptr_t b)
{
	return call(link, &serial_link::op9, a, b);
}

int serial_link_op10(struct serial_link *link, intptr_t a)
{
	return call(link, &serial_link::op10, a);
}

int serial_link_op11(struct serial_link *link, intptr_t a, intptr_t b)
{
	return call(link, &serial_link::op11, a, b);
}

int serial_link_op13(struct serial_link *link, intptr_t a, intptr_t b)
{
	return call(link, &serial_link::op13, a, b);
}
