#include <dlfcn.h>

#include "control.h"
#include "debug_output.h"
#include "fpga.h"

namespace
{

void close_library(void *handle)
{
	if (dlclose(handle) != 0)
		debug_output(DEBUG_ERROR, 0, "Failed to close dynamic library (ref %p): %s\n", handle,
		             dlerror());
}

void *open_library(const char *name, const char *fallback)
{
	void *handle = name ? dlopen(name, RTLD_NOW) : nullptr;
	if (!handle && fallback)
		handle = dlopen(fallback, RTLD_NOW);
	return handle;
}

} // namespace

void *fpga_lib_load(struct control *engine, void *argument, const char *name, const char *fallback)
{
	void *handle = open_library(name, fallback);
	if (!handle) {
		const char *error = dlerror();
		debug_output(DEBUG_ERROR, 0, "Failed to load the FPGA lib: %s\n",
		             error ? error : "no library name");
		return nullptr;
	}
	auto create = reinterpret_cast<fpga_lib_create_fn>(dlsym(handle, "lib_fpga_create"));
	if (!create) {
		debug_output(DEBUG_ERROR, 0, "Failed to find symbol %s\n", "lib_fpga_create");
		close_library(handle);
		return nullptr;
	}
	// A library that built nothing leaves no empty entry in the platform's list.
	struct fpga *object = create(argument);
	if (object)
		control_add_fpga(engine, object);
	return handle;
}

void fpga_lib_unload(void *handle)
{
	if (handle)
		close_library(handle);
}
