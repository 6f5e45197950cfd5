// Parsing: each 32-byte record names a format string inside one of the
// DSP's ucode images; the text is printed with the record's arguments.
#include "trelvox.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

namespace
{

struct ucode_image {
	const char *file;
	uint32_t base;
	const uint8_t *data;
	size_t size;
};

ucode_image images[] = {
    {"orccode.bin", 0x900000, nullptr, 0},
    {"default_binary.bin", 0x600000, nullptr, 0},
    {"orcme.bin", 0x300000, nullptr, 0},
};
constexpr int core_count = 3;
constexpr int format_args = 5;

int map_image(const char *dir, ucode_image *img)
{
	// A second parse in one process maps the images anew.
	if (img->data) {
		munmap(const_cast<uint8_t *>(img->data), img->size);
		img->data = nullptr;
		img->size = 0;
	}
	char path[TRELVOX_NAME_MAX + 64];
	snprintf(path, sizeof path, "%s/%s", dir, img->file);
	FILE *fp = fopen(path, "rb");
	if (!fp) {
		printf("Cannot open ucode bin file [%s].\n", path);
		perror(path);
		return -1;
	}
	int r = -1;
	long size = 0;
	if (fseek(fp, 0, SEEK_END) < 0 || (size = ftell(fp)) < 0) {
		perror("fseek");
	} else {
		void *p = mmap(nullptr, (size_t)size, PROT_READ, MAP_SHARED, fileno(fp), 0);
		if (p == MAP_FAILED) {
			perror("mmap");
		} else {
			img->data = static_cast<const uint8_t *>(p);
			img->size = (size_t)size;
			r = 0;
		}
	}
	fclose(fp);
	return r;
}

bool is_integer_conversion(char c)
{
	return c == 'd' || c == 'i' || c == 'o' || c == 'u' || c == 'x' || c == 'X';
}

// What a 32-bit value can need as text: 11 octal digits and the "#" prefix.
constexpr unsigned field_max = 12;

// Whether a width or precision was cut to field_max, noted once per run.
bool fields_limited;
bool fields_noted;

// A decimal number of the format at fmt[*j], cut to field_max.
unsigned field_number(const char *fmt, size_t len, size_t *j)
{
	unsigned v = 0;
	while (*j < len && fmt[*j] >= '0' && fmt[*j] <= '9') {
		if (v <= field_max)
			v = v * 10 + (unsigned)(fmt[*j] - '0');
		(*j)++;
	}
	if (v > field_max) {
		fields_limited = true;
		v = field_max;
	}
	return v;
}

// The format comes from a firmware file, not from us: only integer
// conversions (and "%%") take arguments; any other directive is printed as
// it stands so that no argument is ever read as a pointer or a double.
// Widths and precisions are cut to what a 32-bit value can need, so that a
// firmware string cannot make one record fill the disk. Returns the last
// character written.
int print_format(FILE *out, const char *fmt, size_t len, const uint32_t args[format_args])
{
	int next = 0;
	int last = 0;
	size_t i = 0;
	while (i < len) {
		if (fmt[i] != '%') {
			last = fmt[i++];
			fputc(last, out);
			continue;
		}
		if (i + 1 < len && fmt[i + 1] == '%') {
			last = '%';
			fputc('%', out);
			i += 2;
			continue;
		}
		size_t j = i + 1;
		while (j < len && fmt[j] && strchr("-+ #0", fmt[j]))
			j++;
		size_t flags = j - (i + 1);
		bool limited_before = fields_limited;
		bool has_width = j < len && fmt[j] >= '0' && fmt[j] <= '9';
		unsigned width = field_number(fmt, len, &j);
		bool has_precision = j < len && fmt[j] == '.';
		unsigned precision = 0;
		if (has_precision) {
			j++;
			precision = field_number(fmt, len, &j);
		}
		size_t conv = j;
		while (conv < len && (fmt[conv] == 'h' || fmt[conv] == 'l' || fmt[conv] == 'z' ||
		                      fmt[conv] == 'j' || fmt[conv] == 't'))
			conv++;
		if (conv >= len || !is_integer_conversion(fmt[conv]) || next >= format_args || flags > 8) {
			fields_limited = limited_before; // printed as it stands
			last = '%';
			fputc('%', out);
			i++;
			continue;
		}
		// Length modifiers are dropped: every argument is 32 bits wide.
		char conversion[40];
		int n = snprintf(conversion, sizeof conversion, "%%%.*s", (int)flags, fmt + i + 1);
		if (has_width)
			n += snprintf(conversion + n, sizeof conversion - (size_t)n, "%u", width);
		if (has_precision)
			n += snprintf(conversion + n, sizeof conversion - (size_t)n, ".%u", precision);
		snprintf(conversion + n, sizeof conversion - (size_t)n, "%c", fmt[conv]);
		if (fmt[conv] == 'd' || fmt[conv] == 'i')
			fprintf(out, conversion, (int)args[next++]);
		else
			fprintf(out, conversion, (unsigned)args[next++]);
		last = 0;
		i = conv + 1;
	}
	return last;
}

void print_record(FILE *out, const uint8_t *rec)
{
	uint32_t seq = trelvox_le32(rec);
	unsigned core = rec[4];
	uint32_t addr = trelvox_le32(rec + 8);
	if (addr == 0)
		return;
	if (core >= core_count) {
		fprintf(stderr, "dsp_core = %d\n", (int)core);
		return;
	}
	const ucode_image *img = &images[core];
	if (addr < img->base || addr - img->base >= img->size)
		return;
	size_t off = addr - img->base;
	const char *fmt = reinterpret_cast<const char *>(img->data + off);
	const void *nul = memchr(fmt, '\0', img->size - off);
	size_t len = nul ? (size_t)(static_cast<const char *>(nul) - fmt) : img->size - off;
	uint32_t args[format_args];
	for (int k = 0; k < format_args; k++)
		args[k] = trelvox_le32(rec + 12 + 4 * k);
	fprintf(out, "[core:%d:%d] ", (int)rec[5], (int)seq);
	int last = print_format(out, fmt, len, args);
	if (fields_limited && !fields_noted) {
		fields_noted = true;
		fprintf(out, "%s[trelvox: field widths and precisions over %u are cut to %u]\n",
		        last == '\n' ? "" : "\n", field_max, field_max);
	}
}

void describe(const trelvox_ucode_version *v, char *buf, size_t len, const char **chip)
{
	*chip = trelvox_chip_name(trelvox_ucode_chip(v), buf, len);
}

void check_header(FILE *in, FILE *out, const trelvox_ucode_version *running)
{
	uint8_t header[TRELVOX_HEADER_SIZE];
	if (fread(header, 1, sizeof header, in) != sizeof header || memcmp(header, "DLOG", 4) != 0) {
		puts("There is no DSPLOG header found, start to parse LOG content.");
		rewind(in);
		return;
	}
	trelvox_ucode_version captured;
	memcpy(captured.bytes, header + 4, sizeof captured.bytes);
	char b1[16], b2[16];
	const char *cchip, *rchip;
	describe(&captured, b1, sizeof b1, &cchip);
	describe(running, b2, sizeof b2, &rchip);
	if (memcmp(captured.bytes, running->bytes, sizeof captured.bytes) != 0) {
		printf("Captured ucode version is %s %d/%d/%d %d.%d\n", cchip,
		       (int)trelvox_ucode_year(&captured), (int)trelvox_ucode_month(&captured),
		       (int)trelvox_ucode_day(&captured), (int)trelvox_ucode_edition(&captured),
		       (int)trelvox_ucode_number(&captured));
		printf("But parse ucode version is %s %d/%d/%d %d.%d\n", rchip,
		       (int)trelvox_ucode_year(running), (int)trelvox_ucode_month(running),
		       (int)trelvox_ucode_day(running), (int)trelvox_ucode_edition(running),
		       (int)trelvox_ucode_number(running));
		puts("Parsed ucode version is mismatch with captured");
		printf("NOTE: Continue parse dsplog although ucode version is mismatched!!\n");
		return;
	}
	puts("dsplog check version correct");
	int r = fprintf(out, "Current ucode version is %s %d/%d/%d %d.%d\n", cchip,
	                (int)trelvox_ucode_year(&captured), (int)trelvox_ucode_month(&captured),
	                (int)trelvox_ucode_day(&captured), (int)trelvox_ucode_edition(&captured),
	                (int)trelvox_ucode_number(&captured));
	if (r < 0) {
		printf("dsplog write head info into parsed txt err: %d\n", r);
		printf("NOTE: Continue parse dsplog although ucode version is mismatched!!\n");
	}
}

void parse_records(FILE *in, FILE *out, bool verbose)
{
	fprintf(stderr, "You may press Ctrl+C to quit parsing.\n");
	uint8_t rec[TRELVOX_RECORD_SIZE];
	uint32_t total = 0, first = 0, last = 0;
	while (fread(rec, 1, sizeof rec, in) == sizeof rec) {
		uint32_t seq = trelvox_le32(rec);
		total++;
		if (total == 1)
			first = seq;
		if (verbose && last != 0 && seq != last + 1)
			printf("\nrecord lost: last = %d, cur = %d, cnt = %d\n", (int)last, (int)seq,
			       (int)(seq - last - 1));
		last = seq;
		print_record(out, rec);
		if (total % 1000 == 0) {
			fprintf(stderr, "\r%d", (int)total);
			fflush(stderr);
		}
	}
	fprintf(stderr, "\r");
	fprintf(stderr, " first record : %d\n", (int)first);
	fprintf(stderr, "  last record : %d\n", (int)last);
	fprintf(stderr, "total records : %d\n", (int)total);
	int span = (int)(last - first + 1);
	int lost = total == 0 ? 0 : (int)(last - first + 1 - total);
	if (span == 0 && lost < 0)
		fprintf(stderr, "this is a LOGMEM ring buf direct dump\n");
	else
		fprintf(stderr, " lost records : %d\n", lost);
}

} // namespace

int trelvox_parse(const trelvox_settings *s, const trelvox_ucode_version *v)
{
	for (ucode_image &img : images) {
		if (map_image(s->ucode_dir, &img) < 0) {
			printf("mmap ucode bin %s failed \n", img.file);
			return 255;
		}
	}
	FILE *in = fopen(s->parse_in, "rb");
	if (!in)
		printf("Cannot open dsplog file %s to parse, please use '-i' option to specify.\n",
		       s->parse_in);
	FILE *out = fopen(s->parse_out, "w");
	if (!out)
		printf("Cannot open dsplog parse text file %s to write, please use '-f' option to specify.\n",
		       s->parse_out);
	if (!in || !out) {
		if (in)
			fclose(in);
		if (out)
			fclose(out);
		printf("trelvox: parse dsp log failed \n");
		return 255;
	}
	check_header(in, out, v);
	parse_records(in, out, s->verbose);
	fclose(in);
	if (fclose(out) != 0) {
		perror(s->parse_out);
		return 255;
	}
	return 0;
}
