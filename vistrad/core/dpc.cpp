#include "dpc.h"

#include <errno.h>
#include <glib.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "debug_output.h"
#include "safe_flash.h"
#include "vistrad_path.h"

#define DPC_MAX_X 8192
#define DPC_MAX_Y 4608
#define DPC_ESCAPE_WORD 0xFFFFDFFFu
#define DPC_END_WORD 0xFFFFFFFFu

#define DPC_CODE_CONTROL 31
#define DPC_CONTROL_HIGH_X 5
#define DPC_CONTROL_ROW_MOVE 6
#define DPC_CONTROL_END 7
#define DPC_FIRST_SINGLE 20

struct dpc_main_header {
	uint8_t version;
	uint8_t gain_levels;
	uint16_t x_start, x_stop, y_start, y_stop;
};

// Class values of the 3x3 cluster patterns, row by row, by code type.
static const uint8_t cluster_patterns[DPC_FIRST_SINGLE][9] = {
    {0, 0, 0, 0, 8, 0, 0, 0, 0},          {0, 0, 0, 9, 10, 0, 11, 12, 0},   {13, 0, 14, 0, 0, 0, 15, 0, 16},
    {17, 18, 19, 20, 21, 22, 23, 24, 25}, {0, 26, 0, 27, 28, 29, 0, 30, 0}, {31, 0, 32, 0, 33, 0, 34, 0, 35},
    {0, 0, 0, 36, 37, 0, 0, 0, 0},        {0, 38, 0, 0, 39, 0, 0, 0, 0},    {0, 0, 0, 40, 0, 41, 0, 0, 0},
    {0, 42, 0, 0, 0, 0, 0, 43, 0},        {0, 44, 0, 0, 45, 0, 0, 46, 0},   {0, 0, 0, 47, 48, 49, 0, 0, 0},
    {0, 50, 0, 0, 0, 0, 0, 51, 52},       {53, 0, 54, 55, 0, 0, 0, 0, 0},   {0, 56, 57, 0, 0, 0, 0, 0, 58},
    {0, 0, 59, 60, 0, 61, 0, 0, 0},       {0, 62, 0, 0, 0, 0, 63, 64, 0},   {65, 0, 0, 66, 0, 67, 0, 0, 0},
    {0, 68, 69, 0, 0, 0, 0, 70, 0},       {71, 0, 72, 0, 0, 73, 0, 0, 0},
};

static uint16_t le16(const uint8_t *b)
{
	return (uint16_t)(b[0] | b[1] << 8);
}

static void put_le32(std::vector<uint8_t> *out, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		out->push_back((uint8_t)(v >> (8 * i)));
}

static bool read_exact(FILE *in, void *buf, size_t length)
{
	if (fread(buf, 1, length, in) == length)
		return true;
	if (!ferror(in))
		errno = ENODATA;
	return false;
}

static bool write_all(int fd, const std::vector<uint8_t> &bytes)
{
	size_t done = 0;
	while (done < bytes.size()) {
		ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			if (n == 0)
				errno = EIO;
			return false;
		}
		done += (size_t)n;
	}
	return true;
}

// The step's summary line reports errno: logging must not change it, and a
// refusal of the data itself sets it.
#define dpc_error(...)                                                                                       \
	do {                                                                                                 \
		int saved_errno = errno;                                                                     \
		debug_output(DEBUG_ERROR, 0, __VA_ARGS__);                                                   \
		errno = saved_errno;                                                                         \
	} while (0)
#define dpc_refuse(...)                                                                                      \
	do {                                                                                                 \
		debug_output(DEBUG_ERROR, 0, __VA_ARGS__);                                                   \
		errno = EINVAL;                                                                              \
	} while (0)

static bool read_main_header(FILE *in, int out, dpc_main_header *h)
{
	uint8_t b[10];
	if (!read_exact(in, b, sizeof(b))) {
		dpc_error("dpc_a5_decompress: can't read compressed dpc main header\n");
		return false;
	}
	*h = {b[0], b[1], le16(b + 2), le16(b + 4), le16(b + 6), le16(b + 8)};
	if (h->version != 0) {
		dpc_refuse("dpc_a5_decompress: unsupported file version %d", h->version);
		return false;
	}
	if (h->gain_levels == 0) {
		dpc_refuse("dpc_a5_decompress: invalid number of gain levels (%d, should be > 0 and < 16)",
		           h->gain_levels);
		return false;
	}
	if (h->x_start >= h->x_stop || h->x_stop > DPC_MAX_X || h->y_start >= h->y_stop ||
	    h->y_stop > DPC_MAX_Y) {
		dpc_refuse("dpc_a5_decompress: invalid x/y start/stop (X:0x%.4x=>0x%.4x(%.4x), "
		           "Y:0x%.4x=>0x%.4x(%.4x))\n",
		           h->x_start, h->x_stop, DPC_MAX_X, h->y_start, h->y_stop, DPC_MAX_Y);
		return false;
	}
	std::vector<uint8_t> words;
	for (uint32_t v : {0u, (uint32_t)h->gain_levels, (uint32_t)h->x_start, (uint32_t)h->x_stop,
	                   (uint32_t)h->y_start, (uint32_t)h->y_stop})
		put_le32(&words, v);
	if (!write_all(out, words)) {
		dpc_error("dpc_a5_decompress: can't write dpc output file\n");
		return false;
	}
	return true;
}

// Returns the section's number of defects, 0 on failure.
static uint32_t read_section_header(FILE *in, int out)
{
	uint8_t b[10];
	if (!read_exact(in, b, sizeof(b))) {
		dpc_error("dpc_a5_decompress: can't read compressed dpc gain header\n");
		return 0;
	}
	uint32_t defects = le16(b + 8);
	if (defects == 0) {
		dpc_refuse("dpc_section_header: invalid number of defects\n");
		return 0;
	}
	std::vector<uint8_t> bytes(b, b + 8);
	put_le32(&bytes, defects);
	if (!write_all(out, bytes)) {
		dpc_error("dpc_a5_decompress: can't write dpc output file\n");
		return 0;
	}
	return defects;
}

struct dpc_map {
	uint32_t rows, columns;
	std::vector<uint16_t> cells;
};

// Writes a size x size block of classes whose bottom-right cell is (y, x);
// cells left of or above the map are dropped.
static bool put_block(dpc_map *map, int64_t y, int64_t x, const uint8_t *pattern, int size)
{
	int64_t top = y - (size - 1), left = x - (size - 1);
	for (int i = 0; i < size * size; i++) {
		int64_t row = top + i / size, column = left + i % size;
		if (!pattern[i] || row < 0 || column < 0)
			continue;
		uint16_t *cell = &map->cells[(size_t)row * map->columns + (size_t)column];
		if (*cell) {
			dpc_refuse("dpc_a5_decompress: map overwrite detected (y,x)=(%d,%d), type=%d\n",
			           (int)top, (int)left, *cell);
			return false;
		}
		*cell = pattern[i];
	}
	return true;
}

static bool read_map(FILE *in, dpc_map *map)
{
	// The row counter begins one above row 0 so that only a row move can
	// bring the first defect onto the map.
	int64_t row = -1, last_x = -1;
	uint32_t high_x = 0;
	for (;;) {
		uint8_t b[2];
		if (!read_exact(in, b, sizeof(b))) {
			dpc_refuse("No DPC_COMP_FLOW_END before EOF");
			return false;
		}
		uint16_t code = le16(b);
		int type = code >> 11, data = code & 0x7FF;
		if (type == DPC_CODE_CONTROL) {
			int control = (data >> 8) & 7, e = data & 0xFF;
			if (control == DPC_CONTROL_END)
				return true;
			if (control == DPC_CONTROL_HIGH_X) {
				high_x = e;
			} else if (control == DPC_CONTROL_ROW_MOVE) {
				row += e + 1;
				last_x = -1;
				high_x = 0;
			} else {
				dpc_refuse("dpc_a5_decompress: Undefined FLOW defect %d (data %.4X)", control,
				           data);
				return false;
			}
			continue;
		}
		int64_t x = data + high_x * 2048;
		if (last_x >= 0 && x <= last_x)
			row++;
		last_x = x;
		if (row < 0 || row >= map->rows || x >= map->columns) {
			dpc_refuse("dpc_a5_decompress: bad (y,x)->type (%.3d,%.3d)->%d\n", (int)(uint16_t)row,
			           (int)x, type);
			return false;
		}
		uint8_t single = (uint8_t)(type - (DPC_FIRST_SINGLE - 1));
		bool ok = type >= DPC_FIRST_SINGLE ? put_block(map, row, x, &single, 1)
		                                   : put_block(map, row, x, cluster_patterns[type], 3);
		if (!ok)
			return false;
	}
}

static bool write_map(int out, const dpc_map *map, uint32_t defects)
{
	std::vector<uint8_t> bytes;
	uint32_t words = 0, last_row = 0;
	for (uint32_t y = 0; y < map->rows; y++)
		for (uint32_t x = 0; x < map->columns; x++) {
			uint16_t cls = map->cells[(size_t)y * map->columns + x];
			if (!cls)
				continue;
			if (y > 4095 && last_row <= 4095) {
				put_le32(&bytes, DPC_ESCAPE_WORD);
				words++;
			}
			put_le32(&bytes, ((uint32_t)(cls & 127) << 13 | (x & 8191)) + (y << 20));
			words++;
			last_row = y;
		}
	if (!write_all(out, bytes)) {
		dpc_error("dpc_a5_decompress: dpc write error\n");
		return false;
	}
	bytes.clear();
	put_le32(&bytes, DPC_END_WORD);
	words++;
	if (!write_all(out, bytes)) {
		dpc_error("dpc_a5_decompress: can't write dpc output file\n");
		return false;
	}
	if (words != defects) {
		dpc_refuse("dpc_a5_decompress: wrong number of defects in map. Found %d, header value %d.",
		           (int)words, (int)defects);
		return false;
	}
	return true;
}

static bool decompress_sections(FILE *in, int out)
{
	dpc_main_header h;
	if (!read_main_header(in, out, &h)) {
		debug_output(DEBUG_ERROR, 0, "%s: handle_main_header failed, %m\n", "decompress_dpc_fd");
		return false;
	}
	for (int level = 0; level < h.gain_levels; level++) {
		uint32_t defects = read_section_header(in, out);
		if (!defects) {
			debug_output(DEBUG_ERROR, 0, "%s: handle_section_header failed, %m\n",
			             "decompress_dpc_fd");
			return false;
		}
		dpc_map map;
		map.rows = h.y_stop + 3u;
		map.columns = h.x_stop + 3u;
		try {
			map.cells.assign((size_t)map.rows * map.columns, 0);
		} catch (const std::bad_alloc &) {
			dpc_error("out of memory\n");
			return false;
		}
		if (!read_map(in, &map)) {
			debug_output(DEBUG_ERROR, 0, "%s: map_input failed, %m\n", "decompress_dpc_fd");
			return false;
		}
		if (!write_map(out, &map, defects)) {
			debug_output(DEBUG_ERROR, 0, "%s: write_map failed, %m\n", "decompress_dpc_fd");
			return false;
		}
	}
	return true;
}

bool decompress_dpc(const char *input, const char *output)
{
	FILE *in = fopen(input, "rbe");
	if (!in) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to open file %s: %s\n", "decompress_dpc", input,
		             strerror(errno));
		return false;
	}
	safe_flash_file *out = safe_flashopen(output);
	if (!out) {
		fclose(in);
		return false;
	}
	bool ok = decompress_sections(in, out->fd);
	fclose(in);
	if (safe_flashclose(out, !ok) != 0)
		return false;
	return ok;
}

void unpack_dpc_data(void)
{
	char *output = vistrad_path(DPC_MAP_PATH);
	char *input = vistrad_path(DPC_COMPRESSED_PATH);
	if (access(output, F_OK) != 0 && !decompress_dpc(input, output))
		debug_output(DEBUG_ERROR, 0, "%s: Failed to unpack DPC file\n", "unpack_dpc_data");
	g_free(input);
	g_free(output);
}
