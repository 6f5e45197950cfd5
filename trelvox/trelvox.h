// trelvox: the DSP log capture tool. Settings and the pieces the modes share.
#ifndef TRELVOX_H
#define TRELVOX_H

#include <stddef.h>
#include <stdint.h>

#include "dsplog_ioctl.h"
#include "qvd_ioctl.h"
#include "ucode_ioctl.h"
#include "vorad_ioctl.h"

#define TRELVOX_NAME "trelvox"
#define TRELVOX_VERSION "1.6"

#define TRELVOX_NAME_MAX 512
#define TRELVOX_DIR_MAX 448
#define TRELVOX_MAX_MODULES 8
#define TRELVOX_MB (1024u * 1024u)
#define TRELVOX_PINPONG_DEFAULT (10u * TRELVOX_MB)
#define TRELVOX_PINPONG_MIN (2u * TRELVOX_MB)
#define TRELVOX_TCP_PORT 2017
#define TRELVOX_HEADER_SIZE 32
#define TRELVOX_RECORD_SIZE 32
#define TRELVOX_UCODE_VERSION_SIZE UCODE_VERSION_SIZE

#define TRELVOX_LOGMEM_ADDR 0x80000u
#define TRELVOX_LOGMEM_SIZE 0x20000u
#define TRELVOX_LOGMEM_DUMP "/tmp/dspmem_dump.bin"

enum trelvox_module {
	TRELVOX_MODULE_ALL = 0,
	TRELVOX_MODULE_ENCODER = 1,
	TRELVOX_MODULE_DECODER = 2,
	TRELVOX_MODULE_IDSP = 3,
	TRELVOX_MODULE_VOUT = 4,
	TRELVOX_MODULE_API = 5,
	TRELVOX_MODULE_VCAP = 7,
};

enum trelvox_mode { TRELVOX_MODE_CAPTURE = 0, TRELVOX_MODE_PARSE = 1 };

struct trelvox_settings {
	char capture_out[TRELVOX_NAME_MAX];
	bool capture_out_given;
	char parse_in[TRELVOX_NAME_MAX];
	bool parse_in_given;
	char parse_out[TRELVOX_NAME_MAX];
	char verify_file[TRELVOX_NAME_MAX];
	char ucode_dir[TRELVOX_DIR_MAX];
	int modules[TRELVOX_MAX_MODULES];
	int module_count;
	int current_module;
	uint32_t module_mask[TRELVOX_MAX_MODULES];
	bool module_add[TRELVOX_MAX_MODULES];
	int debug_level;
	bool debug_level_given;
	int thread_mask;
	bool thread_mask_given;
	bool current;
	bool verify;
	bool ucode_version;
	bool tool_version;
	bool pinpong;
	bool tcp;
	bool capture_only;
	bool verbose;
	uint32_t pinpong_limit;
	int mode;
};

// The ucode version as the video driver returns it (little-endian bytes).
struct trelvox_ucode_version {
	uint8_t bytes[TRELVOX_UCODE_VERSION_SIZE];
};

unsigned trelvox_ucode_year(const trelvox_ucode_version *v);
unsigned trelvox_ucode_month(const trelvox_ucode_version *v);
unsigned trelvox_ucode_day(const trelvox_ucode_version *v);
uint32_t trelvox_ucode_edition(const trelvox_ucode_version *v);
uint32_t trelvox_ucode_number(const trelvox_ucode_version *v);
uint32_t trelvox_ucode_chip(const trelvox_ucode_version *v);
const char *trelvox_chip_name(uint32_t chip, char *buf, size_t len);
uint32_t trelvox_le32(const uint8_t *p);

// The 32-byte "DLOG" header that starts every output file.
void trelvox_make_header(const trelvox_ucode_version *v, uint8_t header[TRELVOX_HEADER_SIZE]);

// Options: 0 when the command line is usable, -1 after printing why not.
void trelvox_settings_init(trelvox_settings *s);
int trelvox_parse_options(trelvox_settings *s, int argc, char **argv);
void trelvox_usage(void);
uint32_t trelvox_dsp_log_mask(const trelvox_settings *s);

// The modes; each returns the process exit status.
int trelvox_capture(const trelvox_settings *s, const trelvox_ucode_version *v);
int trelvox_parse(const trelvox_settings *s, const trelvox_ucode_version *v);

#endif
