// The board the video driver describes: its video inputs and the sources
// that feed them, the DSP state and the system information. Tests set a
// board of their own (simsoc_qvd.h); the answers follow it.
#include "qvd.h"
#include "qvd_ioctl.h"

#include <errno.h>
#include <string.h>

#include <mutex>

namespace
{

struct Board {
	std::mutex mu;
	simsoc_qvd_board b;
};

Board &board()
{
	static Board *b = [] {
		Board *n = new Board;
		simsoc_qvd_default_board(&n->b);
		return n;
	}();
	return *b;
}

simsoc_qvd_board snapshot()
{
	Board &bd = board();
	std::lock_guard<std::mutex> lk(bd.mu);
	return bd.b;
}

// The VIN fed by a source, or null.
const simsoc_qvd_vin *find_source(const simsoc_qvd_board &b, int32_t source)
{
	for (uint32_t i = 0; i < b.vin_count; i++)
		if (b.vin[i].source_id == source)
			return &b.vin[i];
	return nullptr;
}

void fill_vin_resource(qvd_vin_resource *r, const simsoc_qvd_vin &v)
{
	r->source_id = v.source_id;
	r->follow_chan = v.follow_chan;
	r->ctrl = (uint8_t)((v.sensor_ctrl ? QVD_VIN_CTRL_SENSOR : 0) | (v.exposures & QVD_VIN_CTRL_EXPO_MASK)
	                                                                    << QVD_VIN_CTRL_EXPO_SHIFT);
	r->ctx_id = v.ctx_id;
	r->hdr_flags = (v.hdr_flag ? QVD_VIN_HDR_FLAG : 0) | (v.dsp_hdr & QVD_VIN_HDR_DSP_MASK)
	                                                         << QVD_VIN_HDR_DSP_SHIFT;
}

} // namespace

extern "C" void simsoc_qvd_default_board(simsoc_qvd_board *out)
{
	if (!out)
		return;
	memset(out, 0, sizeof *out);
	out->vin_count = 1;
	simsoc_qvd_vin &v = out->vin[0];
	v.sensor_ctrl = 1;
	v.exposures = 1;
	v.width = v.main_width = 1920;
	v.height = v.main_height = 1080;
	v.gain_unit = 1;
	v.again_max_index = 448;
	v.dgain_max_index = 273;
	v.line_time = 30 * 512; // 30 us a row: 1080 rows in about a 30 fps frame
	// Key a of the camera library's tuning lookup (bits 8-10): the built-in
	// rows all serve key 2.
	out->tuning_word = 2u << 8;
	out->system_info_answer = SIMSOC_QVD_ANSWER_DRIVER;
}

extern "C" void simsoc_qvd_default_board_vins(simsoc_qvd_board *out, unsigned n)
{
	simsoc_qvd_default_board(out);
	if (!out)
		return;
	n = n < 1 ? 1 : n > SIMSOC_QVD_VINS ? SIMSOC_QVD_VINS : n;
	out->vin_count = n;
	for (unsigned i = 1; i < n; i++) {
		memcpy(&out->vin[i], &out->vin[0], sizeof out->vin[i]);
		out->vin[i].source_id = (int32_t)i;
	}
}

extern "C" int simsoc_qvd_set_board(const simsoc_qvd_board *b)
{
	if (b && b->vin_count > SIMSOC_QVD_VINS)
		return -1;
	Board &bd = board();
	std::lock_guard<std::mutex> lk(bd.mu);
	if (b)
		bd.b = *b;
	else
		simsoc_qvd_default_board(&bd.b);
	return 0;
}

extern "C" void simsoc_qvd_get_board(simsoc_qvd_board *out)
{
	if (out)
		*out = snapshot();
}

void qvd_board_set_dsp_state(uint32_t state)
{
	Board &bd = board();
	std::lock_guard<std::mutex> lk(bd.mu);
	bd.b.dsp_state = state;
}

bool qvd_board_vin_of(int32_t source, simsoc_qvd_vin *out)
{
	simsoc_qvd_board b = snapshot();
	const simsoc_qvd_vin *v = find_source(b, source);
	if (v && out)
		*out = *v;
	return v != nullptr;
}

bool qvd_board_source_of(unsigned vin, int32_t *source)
{
	Board &bd = board();
	std::lock_guard<std::mutex> lk(bd.mu);
	if (vin >= bd.b.vin_count)
		return false;
	*source = bd.b.vin[vin].source_id;
	return true;
}

bool qvd_board_vin(unsigned vin, simsoc_qvd_vin *out)
{
	simsoc_qvd_board b = snapshot();
	if (vin >= b.vin_count)
		return false;
	if (out)
		*out = b.vin[vin];
	return true;
}

bool qvd_board_partner_ctx(int32_t source, uint32_t ctx, uint32_t *partner)
{
	simsoc_qvd_board b = snapshot();
	uint32_t ctxs[2], n = 0;
	for (uint32_t i = 0; i < b.vin_count; i++)
		if (b.vin[i].source_id == source && n++ < 2)
			ctxs[n - 1] = b.vin[i].ctx_id;
	if (n != 2 || ctxs[0] == ctxs[1] || (ctxs[0] != ctx && ctxs[1] != ctx))
		return false;
	if (partner)
		*partner = ctxs[0] == ctx ? ctxs[1] : ctxs[0];
	return true;
}

int qvd_get_state(simsoc_file *, void *arg)
{
	uint32_t state = snapshot().dsp_state;
	memcpy(arg, &state, sizeof state);
	return 0;
}

int qvd_query_system_info(simsoc_file *, void *arg)
{
	qvd_system_info info;
	memcpy(&info, arg, sizeof info);
	simsoc_log("qvd: system info query %u", info.query);
	simsoc_qvd_board b = snapshot();
	info.answer = b.system_info_answer;
	if (info.answer == SIMSOC_QVD_ANSWER_DRIVER) {
		bool running = b.dsp_state == QVD_STATE_RUNNING || b.dsp_state == QVD_STATE_RUNNING_B;
		info.answer = running && qvd_imgproc_fresh() ? 1 : 0;
	}
	memcpy(arg, &info, sizeof info);
	return 0;
}

int qvd_get_system_resource(simsoc_file *, void *arg)
{
	qvd_system_resource res;
	memcpy(&res, arg, sizeof res);
	if (res.query != QVD_RESOURCE_GENERIC) {
		simsoc_log("qvd: system resource query %u", res.query);
		return -EINVAL;
	}
	simsoc_qvd_board b = snapshot();
	memset(&res, 0, sizeof res);
	res.query = QVD_RESOURCE_GENERIC;
	res.vin_num = (uint8_t)b.vin_count;
	res.vin_config = b.vin_config;
	res.tuning_word = b.tuning_word;
	for (uint32_t i = 0; i < b.vin_count; i++)
		fill_vin_resource(&res.vin[i], b.vin[i]);
	memcpy(arg, &res, sizeof res);
	return 0;
}

int qvd_get_video_proc(simsoc_file *, void *arg)
{
	qvd_video_proc p;
	memcpy(&p, arg, sizeof p);
	simsoc_qvd_board b = snapshot();
	if (p.channel >= b.vin_count)
		return -EINVAL;
	p.main_width = b.vin[p.channel].main_width;
	p.main_height = b.vin[p.channel].main_height;
	memcpy(arg, &p, sizeof p);
	return 0;
}

// Answers a request about a source from the VIN it feeds: the record
// keeps only the source and what fill writes.
template <typename Rec, typename Fn> int answer_source(void *arg, bool clear, Fn fill)
{
	Rec rec;
	memcpy(&rec, arg, sizeof rec);
	simsoc_qvd_vin v;
	if (!qvd_board_vin_of(rec.source_id, &v))
		return -EINVAL;
	if (clear) {
		int32_t source = rec.source_id;
		memset(&rec, 0, sizeof rec);
		rec.source_id = source;
	}
	fill(rec, v);
	memcpy(arg, &rec, sizeof rec);
	return 0;
}

int qvd_vin_get_videoinfo(simsoc_file *, void *arg)
{
	return answer_source<qvd_vin_videoinfo>(arg, false,
	                                        [](qvd_vin_videoinfo &info, const simsoc_qvd_vin &v) {
		                                        info.width = v.width;
		                                        info.height = v.height;
		                                        info.pattern = v.pattern;
		                                        info.format = v.format;
	                                        });
}

int qvd_vin_get_agc(simsoc_file *, void *arg)
{
	return answer_source<qvd_vin_agc>(arg, true, [](qvd_vin_agc &agc, const simsoc_qvd_vin &v) {
		agc.again_max_index = v.again_max_index;
		agc.dgain_max_index = v.dgain_max_index;
	});
}

int qvd_vin_get_aaainfo(simsoc_file *, void *arg)
{
	return answer_source<qvd_vin_aaa_info>(arg, true,
	                                       [](qvd_vin_aaa_info &info, const simsoc_qvd_vin &v) {
		                                       info.hdr_kind = v.hdr_kind;
		                                       info.bayer = v.bayer;
		                                       info.gain_unit = v.gain_unit;
		                                       info.hdr_mode = v.hdr_mode;
		                                       info.hdr_type = v.hdr_type;
		                                       info.hdr_curve = v.hdr_curve;
		                                       info.line_time = v.line_time;
		                                       memcpy(info.sht_max, v.sht_max, sizeof info.sht_max);
	                                       });
}
