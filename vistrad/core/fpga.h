#pragma once
// FPGA object built by an outside FPGA library through fpga_generic_create.

#include <stdint.h>

struct platform;

struct fpga {
	struct platform *platform;
	int (*query)(struct fpga *fpga);
	void *reserved;
	int (*set_flag)(struct fpga *fpga, uint8_t flag);
	int (*set_value)(struct fpga *fpga, int value);
};

struct fpga *fpga_generic_create(void);
void fpga_generic_free(struct fpga *fpga);
void fpga_add_platform(struct fpga *fpga, struct platform *platform);

struct control;

// The factory an FPGA library exports: builds its object with
// fpga_generic_create and fills the operations.
typedef struct fpga *(*fpga_lib_create_fn)(void *argument);

// Opens the library by name (else by the fallback name), builds its object
// with lib_fpga_create(argument) and hands it to the engine's platform.
// The library handle, or null; the library stays loaded until unloaded.
void *fpga_lib_load(struct control *engine, void *argument, const char *name, const char *fallback);
void fpga_lib_unload(void *handle);

// Forward to the object's operations: query gives 0, the others -1 when the
// object or the operation is missing.
int fpga_op_query(struct fpga *fpga);
int fpga_op_flag(struct fpga *fpga, uint8_t flag);
int fpga_op_value(struct fpga *fpga, int value);
