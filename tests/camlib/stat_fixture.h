// A statistics area laid out as the camera library holds it, and a writer
// of the DSP's slices into it.
#ifndef TESTS_CAMLIB_STAT_FIXTURE_H
#define TESTS_CAMLIB_STAT_FIXTURE_H

#include "aaa_parser.h"
#include "qvd_ioctl.h"

#include <cstring>
#include <vector>

struct StatArea {
	std::vector<uint8_t> area = std::vector<uint8_t>(AAA_STAT_AREA_SIZE);
	aaa_stat_desc desc{};

	StatArea()
	{
		aaa_stat_desc_layout(area.data(), &desc);
	}
	uint8_t *cfa_block(int c)
	{
		return (uint8_t *)desc.cfa + c * QVD_STAT_CFA_SIZE;
	}
	qvd_cfa_slice *cfa(int c, int s, size_t base = 0)
	{
		return (qvd_cfa_slice *)(cfa_block(c) + base) + s;
	}
	qvd_rgb_slice *rgb(int c, int s)
	{
		return (qvd_rgb_slice *)((uint8_t *)desc.rgb + c * QVD_STAT_RGB_SIZE) + s;
	}
	uint8_t *prehist(int c, int e)
	{
		return (uint8_t *)desc.prehist + c * QVD_STAT_PREHIST_SIZE + e * QVD_PREHIST_RECORD_SIZE;
	}
	uint8_t *hist(int c)
	{
		return (uint8_t *)desc.hist + c * QVD_STAT_HIST_SIZE;
	}
};

inline qvd_stat_grid grid(uint16_t cols, uint16_t rows, uint16_t w, uint16_t h, uint8_t shift)
{
	return qvd_stat_grid{cols, rows, 0, 0, w, h, shift, {0, 0, 0}};
}

// The header of slice s of a cols x rows layout of channel c.
inline void slice_header(qvd_stat_header *h, int c, unsigned s, unsigned cols, unsigned rows,
                         const qvd_stat_grid &awb, const qvd_stat_grid &ae, const qvd_stat_grid &af,
                         uint32_t black = QVD_STAT_BLACK_NONE)
{
	memset(h, 0, sizeof *h);
	h->awb = awb;
	h->ae = ae;
	h->af = af;
	h->slice_col = (uint8_t)(s % cols);
	h->slice_row = (uint8_t)(s / cols);
	h->slice_cols = (uint8_t)cols;
	h->slice_rows = (uint8_t)rows;
	h->black_red = h->black_green = h->black_blue = black;
	h->chan = QVD_STAT_CHAN_BYTE(c);
}

#endif
