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
