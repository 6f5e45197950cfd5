// Command line of the DSP log tool.
#include "trelvox.h"

#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

namespace
{

struct option_help {
	struct option opt;
	const char *label;
	int tabs;
	const char *help;
};

const option_help options[] = {
    {{"module", required_argument, nullptr, 'm'},
     "string",
     1,
     "vcap, vout, encoder, decoder, idsp, api, all"},
    {{"level", required_argument, nullptr, 'l'},
     "0~4",
     1,
     "debug level 0: OFF, 1: FORCE, 2: NORMAL, 3: VERBOSE, 4: DEBUG."},
    {{"thread", required_argument, nullptr, 'r'},
     "0~255",
     1,
     "DSP thread bitmask, decimal or hex (start with 0x), set bit to 0 to enable"},
    {{"bitmask", required_argument, nullptr, 'b'},
     "32-bit",
     1,
     "debug bitmask, decimal or hex (start with 0x), set bit to 1 to enable (V1 and V2 chip families)"},
    {{"bin-out", required_argument, nullptr, 'o'},
     "filename",
     0,
     "filename of dsplog binary to capture (capture_out)"},
    {{"tcp", no_argument, nullptr, 't'},
     nullptr,
     2,
     "use TCP to transfer dsp log (dsplog_receiver on the PC)"},
    {{"current", no_argument, nullptr, 'c'},
     nullptr,
     2,
     "capture current dsp log in LOGMEM buffer, which is 128KB"},
    {{"pinpong", required_argument, nullptr, 'p'},
     "filesize",
     0,
     "specify the dsplog file size limit in pinpong mode"},
    {{"add", no_argument, nullptr, 'a'},
     nullptr,
     2,
     "if specified, current bitmask is added to, but not set. (else it's set by default)"},
    {{"caponly", no_argument, nullptr, 's'},
     nullptr,
     2,
     "if specified, capture only, do not set debug level and bitmask\n"},
    {{"ucode-dir", required_argument, nullptr, 'd'},
     "path",
     1,
     "use another ucode path to parse the dsplog, like /tmp/mmcblk0p1/latest"},
    {{"parse-in", required_argument, nullptr, 'i'},
     "filename",
     0,
     "filename of dsplog binary to parse (parse_in)"},
    {{"logtext", required_argument, nullptr, 'f'},
     "filename",
     0,
     "filename of dsplog text file after parse (parse_out)"},
    {{"verify", required_argument, nullptr, 'y'},
     "filename",
     1,
     "use dsp log mem buffer to verify captured log file (DSP should have halted)"},
    {{"ucode-ver", no_argument, nullptr, 'V'},
     nullptr,
     2,
     "append ucode version to ucode binary filename, show ucode version when used alone"},
    {{"version", no_argument, nullptr, 'w'}, nullptr, 2, "show trelvox tool version"},
    {{"verbose", no_argument, nullptr, 'v'}, nullptr, 2, "verbose"},
};

constexpr int option_count = sizeof options / sizeof options[0];
const char short_options[] = "ab:cd:f:i:m:l:o:p:r:stvVwy:";

bool copy_name(char *dst, size_t size, const char *src)
{
	size_t n = strlen(src);
	if (n >= size)
		return false;
	memcpy(dst, src, n + 1);
	return true;
}

// Whole-text decimal number; false for anything else.
bool parse_decimal(const char *text, long long *out)
{
	if (!*text)
		return false;
	errno = 0;
	char *end = nullptr;
	long long v = strtoll(text, &end, 10);
	if (errno || *end)
		return false;
	*out = v;
	return true;
}

bool parse_hex(const char *digits, size_t max_digits, unsigned long long *out)
{
	size_t n = strlen(digits);
	if (n == 0 || n > max_digits || strspn(digits, "0123456789abcdefABCDEF") != n)
		return false;
	*out = strtoull(digits, nullptr, 16);
	return true;
}

bool has_hex_prefix(const char *text)
{
	return strlen(text) > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

int module_id(const char *name)
{
	static const struct {
		const char *name;
		int id;
	} names[] = {{"all", TRELVOX_MODULE_ALL},         {"encoder", TRELVOX_MODULE_ENCODER},
	             {"decoder", TRELVOX_MODULE_DECODER}, {"idsp", TRELVOX_MODULE_IDSP},
	             {"vout", TRELVOX_MODULE_VOUT},       {"api", TRELVOX_MODULE_API},
	             {"vcap", TRELVOX_MODULE_VCAP}};
	for (const auto &n : names)
		if (strcasecmp(name, n.name) == 0)
			return n.id;
	return -1;
}

int add_module(trelvox_settings *s, const char *name)
{
	int id = module_id(name);
	if (id < 0) {
		printf("DSP module %s not supported to debug for this ARCH \n", name);
		printf("Invalid dsp module id.\n");
		return -1;
	}
	if (s->module_count >= TRELVOX_MAX_MODULES) {
		printf("Too many modules to debug.\n");
		return -1;
	}
	s->current_module = s->module_count;
	s->modules[s->module_count++] = id;
	return 0;
}

int get_thread_bitmask(const char *text, int *out)
{
	long long v;
	if (has_hex_prefix(text)) {
		unsigned long long h;
		if (!parse_hex(text + 2, 8, &h)) {
			printf("get_thread_bitmask: error to get hex value from string %s\n", text);
			return -1;
		}
		v = (long long)h;
	} else if (!parse_decimal(text, &v) || v < 0) {
		return -1;
	}
	if (v > 15) {
		printf("unsupported bit mask value in decimal %lld for this ARCH\n", v);
		return -1;
	}
	*out = (int)v;
	return 0;
}

int get_dsp_bitmask(const char *text, uint32_t *out)
{
	if (has_hex_prefix(text)) {
		unsigned long long h;
		if (!parse_hex(text + 2, 8, &h)) {
			printf("get_dsp_bitmask: error to get hex value from string %s\n", text);
			return -1;
		}
		*out = (uint32_t)h;
		return 0;
	}
	long long v;
	if (!parse_decimal(text, &v) || v < 0 || v > 0xFFFFFFFFll) {
		printf("get_dsp_bitmask: error to get decimal value from string %s\n", text);
		return -1;
	}
	*out = (uint32_t)v;
	return 0;
}

int set_pinpong(trelvox_settings *s, const char *text)
{
	long long v = 0;
	s->pinpong = true;
	if (!parse_decimal(text, &v) || v < (long long)TRELVOX_PINPONG_MIN || v > 0xFFFFFFFFll) {
		printf("Use pinpong buffer with default size %d MB.\n", 10);
		s->pinpong_limit = TRELVOX_PINPONG_DEFAULT;
		return 0;
	}
	s->pinpong_limit = (uint32_t)v;
	return 0;
}

int apply_option(trelvox_settings *s, int c, const char *arg)
{
	switch (c) {
	case 'm':
		return add_module(s, arg);
	case 'l': {
		long long v;
		if (!parse_decimal(arg, &v) || v < 0 || v > 4) {
			printf("Invalid debug level.\n");
			return -1;
		}
		s->debug_level = (int)v;
		s->debug_level_given = true;
		return 0;
	}
	case 'r':
		if (get_thread_bitmask(arg, &s->thread_mask) < 0) {
			printf("Invalid thread bit mask.\n");
			return -1;
		}
		s->thread_mask_given = true;
		return 0;
	case 'b':
		return get_dsp_bitmask(arg, &s->module_mask[s->current_module]);
	case 'o':
		if (!*arg || !copy_name(s->capture_out, sizeof s->capture_out, arg)) {
			printf("Invalid parse_out DSP log file name.\n");
			return -1;
		}
		s->capture_out_given = true;
		return 0;
	case 'i':
		if (!*arg || !copy_name(s->parse_in, sizeof s->parse_in, arg)) {
			printf("Invalid parse_in DSP log file name.\n");
			return -1;
		}
		s->parse_in_given = true;
		return 0;
	case 'f':
		if (!copy_name(s->parse_out, sizeof s->parse_out, arg)) {
			printf("Invalid parse text file name.\n");
			return -1;
		}
		return 0;
	case 'y':
		if (!copy_name(s->verify_file, sizeof s->verify_file, arg)) {
			printf("Invalid verify file name.\n");
			return -1;
		}
		s->verify = true;
		return 0;
	case 'd':
		if (!copy_name(s->ucode_dir, sizeof s->ucode_dir, arg)) {
			printf("Invalid ucode directory.\n");
			return -1;
		}
		return 0;
	case 'p':
		return set_pinpong(s, arg);
	case 't':
		s->tcp = true;
		return 0;
	case 'c':
		s->current = true;
		return 0;
	case 'a':
		s->module_add[s->current_module] = true;
		return 0;
	case 's':
		s->capture_only = true;
		return 0;
	case 'V':
		s->ucode_version = true;
		return 0;
	case 'w':
		s->tool_version = true;
		return 0;
	case 'v':
		s->verbose = true;
		return 0;
	default:
		return 0; // unknown options are ignored
	}
}

int choose_mode(trelvox_settings *s)
{
	if (s->tool_version || s->ucode_version || s->current || s->verify)
		return 0;
	if (s->parse_in_given && s->capture_out_given) {
		printf("Cannot enable dsplog capture (output) and dsplog parse (parse_in) at same time!\n");
		return -1;
	}
	if (s->parse_in_given) {
		s->mode = TRELVOX_MODE_PARSE;
	} else if (s->capture_out_given) {
		s->mode = TRELVOX_MODE_CAPTURE;
	} else {
		printf("\nPlease specify cmd to either capture or parse!\n");
		return -1;
	}
	if (!s->tcp)
		return 0;
	if (s->mode == TRELVOX_MODE_PARSE) {
		printf("Do not support parse dsp log by -t option now.\n");
		return -1;
	}
	if (strchr(s->capture_out, '/')) {
		printf("When tcp transfer mode specified, please do not use '/' in outputfilename, current "
		       "name is [%s].\n",
		       s->capture_out);
		return -1;
	}
	return 0;
}

} // namespace

void trelvox_settings_init(trelvox_settings *s)
{
	memset(s, 0, sizeof *s);
	strcpy(s->capture_out, "/tmp/dsplog.dat");
	strcpy(s->parse_in, "/tmp/dsplog.dat");
	strcpy(s->ucode_dir, "/lib/firmware");
	s->pinpong_limit = TRELVOX_PINPONG_DEFAULT;
	s->mode = TRELVOX_MODE_CAPTURE;
}

int trelvox_parse_options(trelvox_settings *s, int argc, char **argv)
{
	struct option longopts[option_count + 1];
	for (int i = 0; i < option_count; i++)
		longopts[i] = options[i].opt;
	memset(&longopts[option_count], 0, sizeof longopts[option_count]);
	opterr = 0;
	int c;
	while ((c = getopt_long(argc, argv, short_options, longopts, nullptr)) != -1) {
		if (apply_option(s, c, optarg ? optarg : "") < 0)
			return -1;
	}
	return choose_mode(s);
}

void trelvox_usage(void)
{
	printf("\n\n############################################################\n");
	printf(" %s ver %s.\n", TRELVOX_NAME, TRELVOX_VERSION);
	printf(" Supports the V1 and V2 chip families.\n\n");
	printf("Usage:\n");
	for (const option_help &o : options) {
		int c = o.opt.val;
		bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
		if (letter)
			printf(" -%c ", c);
		else
			printf("    ");
		printf("--%s", o.opt.name);
		if (o.label)
			printf(" [%s]", o.label);
		for (int t = 0; t < o.tabs; t++)
			putchar('\t');
		printf("\t%s\n", o.help);
	}
	printf("\n");
	printf("  Enable all debug information :\n");
	printf("  # %s -m all -l 3 -r 0 -o /tmp/dsplog1.bin \n\n", TRELVOX_NAME);
	printf("  Use Pinpong files to store DSP log for vcap module with limited size\n");
	printf("  # %s -m all -l 3 -r 0 -o /sdcard/dsplog1.bin -p 100000000 \n\n", TRELVOX_NAME);
	printf("  Specify modules' bitmask :\n");
	printf("  # %s -b 0x0FFC003F -l 3 -r 0 -o /tmp/dsplog1.bin \n\n", TRELVOX_NAME);
	printf("  Parse captured DSP log into txt file.\n");
	printf("  # %s -i /tmp/dsplog1.bin -f /tmp/dsplog.txt \n\n", TRELVOX_NAME);
}

uint32_t trelvox_dsp_log_mask(const trelvox_settings *s)
{
	if (s->module_count == 0)
		return s->module_mask[0];
	uint32_t mask = 0;
	for (int i = 0; i < s->module_count; i++) {
		switch (s->modules[i]) {
		case TRELVOX_MODULE_ENCODER:
			mask |= 0x3C000;
			break;
		case TRELVOX_MODULE_DECODER:
			mask |= 0xFF00000;
			break;
		case TRELVOX_MODULE_IDSP:
			mask |= 0x100;
			break;
		case TRELVOX_MODULE_VOUT:
			mask |= 0xC0000;
			break;
		case TRELVOX_MODULE_API:
			mask |= 0xF;
			break;
		case TRELVOX_MODULE_VCAP:
			mask |= 0x30;
			break;
		default:
			mask = 0x0FFFC13F;
			break;
		}
	}
	return mask;
}
