// What the video driver keeps of each sensor, per video source and context:
// exposures (current, and pending until the next frame of the source's VIN),
// the digital-gain ratio, the HDR gain group, low light, 3A compensation and
// the sensor registers.
#include "qvd.h"
#include "qvd_ioctl.h"
#include "simsoc_internal.h"

#include <errno.h>
#include <string.h>

#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace
{

constexpr uint32_t kContexts = 4;
constexpr uint32_t kUnity = 1024;

struct Sensors {
	std::mutex mu;
	std::map<std::pair<int32_t, uint32_t>, simsoc_qvd_sensor_state> state;
	std::map<std::pair<uint32_t, uint32_t>, uint32_t> regs;
	uint32_t switched_ctx = 0, lock_frames = 0;
	std::set<int32_t> crossed; // sources whose two VINs take each other's context
	// First exposures sent as a sequence, waiting for the sequence apply.
	std::map<int32_t, qvd_vin_sht_agc_seq> seq;
	uint32_t helmet_plug = 0, helmet_access = 0;
	int helmet_access_err = 0;
};

Sensors &sensors()
{
	static Sensors *s = new Sensors;
	return *s;
}

simsoc_qvd_sensor_state fresh()
{
	simsoc_qvd_sensor_state s;
	memset(&s, 0, sizeof s);
	for (uint32_t &r : s.ratio)
		r = kUnity;
	return s;
}

// The state of a source and context the board knows, created on first use;
// null (the caller answers EINVAL) otherwise. Called with the lock held.
simsoc_qvd_sensor_state *lookup_locked(Sensors &s, int32_t source, int32_t ctx)
{
	if (ctx < 0 || (uint32_t)ctx >= kContexts || !qvd_board_vin_of(source, nullptr))
		return nullptr;
	auto key = std::make_pair(source, (uint32_t)ctx);
	auto it = s.state.find(key);
	if (it == s.state.end())
		it = s.state.emplace(key, fresh()).first;
	return &it->second;
}

// Runs fn on the state of a request's source and context under the lock.
template <typename Rec, typename Fn> int with_sensor(void *arg, Fn fn)
{
	Rec rec;
	memcpy(&rec, arg, sizeof rec);
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	simsoc_qvd_sensor_state *st = lookup_locked(s, rec.source_id, rec.ctx_id);
	if (!st)
		return -EINVAL;
	int rc = fn(*st, rec);
	memcpy(arg, &rec, sizeof rec);
	return rc;
}

void copy4(uint32_t *dst, const uint32_t *src)
{
	memcpy(dst, src, 4 * sizeof *dst);
}

void take_groups(uint32_t *shutter, uint32_t *again, uint32_t *dgain, const qvd_vin_sht_agc_group &g)
{
	copy4(shutter, g.shutter.value);
	copy4(again, g.again.value);
	copy4(dgain, g.dgain.value);
}

// At a tick of a VIN, its source's pending exposures become current.
void on_tick(unsigned vin)
{
	int32_t source;
	if (!qvd_board_source_of(vin, &source))
		return;
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	for (auto &e : s.state) {
		simsoc_qvd_sensor_state &st = e.second;
		if (e.first.first != source || !st.pending)
			continue;
		copy4(st.shutter, st.pending_shutter);
		copy4(st.again, st.pending_again);
		copy4(st.dgain, st.pending_dgain);
		st.pending = 0;
	}
}

__attribute__((constructor)) void qvd_vin_register()
{
	simsoc_vin_add_tick_listener(on_tick);
}

uint32_t read_word(const void *arg)
{
	uint32_t v;
	memcpy(&v, arg, sizeof v);
	return v;
}

int get_wdr(void *arg, size_t which)
{
	return with_sensor<qvd_vin_group>(arg, [which](simsoc_qvd_sensor_state &st, qvd_vin_group &g) {
		const uint32_t *src[] = {st.wdr_again, st.wdr_dgain};
		copy4(g.value, src[which]);
		return 0;
	});
}

} // namespace

// Written to the sensor at once: the first exposure is the new one from
// the next frame on.
int qvd_vin_set_sht_agc(simsoc_file *, void *arg)
{
	return with_sensor<qvd_vin_sht_agc>(arg, [](simsoc_qvd_sensor_state &st, qvd_vin_sht_agc &r) {
		if (r.mode > QVD_SHT_AGC_BOTH)
			return -EINVAL;
		if (r.mode != QVD_SHT_AGC_GAIN_ONLY)
			st.set_shutter = st.shutter[0] = r.shutter;
		if (r.mode != QVD_SHT_AGC_SHUTTER_ONLY) {
			st.set_agc = st.again[0] = r.agc;
			st.dgain[0] = 0;
		}
		st.set_mode = r.mode;
		return 0;
	});
}

int qvd_vin_set_dgain_ratio(simsoc_file *, void *arg)
{
	return with_sensor<qvd_vin_dgain_ratio>(arg, [](simsoc_qvd_sensor_state &st, qvd_vin_dgain_ratio &r) {
		st.ratio[0] = r.r;
		st.ratio[1] = r.gr;
		st.ratio[2] = r.gb;
		st.ratio[3] = r.b;
		return 0;
	});
}

int qvd_vin_get_dgain_ratio(simsoc_file *, void *arg)
{
	return with_sensor<qvd_vin_dgain_ratio>(arg, [](simsoc_qvd_sensor_state &st, qvd_vin_dgain_ratio &r) {
		r.r = st.ratio[0];
		r.gr = st.ratio[1];
		r.gb = st.ratio[2];
		r.b = st.ratio[3];
		return 0;
	});
}

int qvd_vin_set_reg(simsoc_file *, void *arg)
{
	qvd_vin_reg r;
	memcpy(&r, arg, sizeof r);
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	s.regs[{r.zero, r.addr}] = r.value;
	return 0;
}

int qvd_vin_get_reg(simsoc_file *, void *arg)
{
	qvd_vin_reg r;
	memcpy(&r, arg, sizeof r);
	Sensors &s = sensors();
	{
		std::lock_guard<std::mutex> lk(s.mu);
		auto it = s.regs.find({r.zero, r.addr});
		r.value = it == s.regs.end() ? 0 : it->second;
	}
	memcpy(arg, &r, sizeof r);
	return 0;
}

int qvd_vin_shutter2row(simsoc_file *, void *arg)
{
	qvd_vin_shutter_row r;
	memcpy(&r, arg, sizeof r);
	simsoc_qvd_vin v;
	if (!qvd_board_vin_of(r.source_id, &v) || v.line_time == 0)
		return -EINVAL;
	r.value /= v.line_time;
	memcpy(arg, &r, sizeof r);
	return 0;
}

int qvd_vin_get_wdr_again(simsoc_file *, void *arg)
{
	return get_wdr(arg, 0);
}

int qvd_vin_get_wdr_dgain(simsoc_file *, void *arg)
{
	return get_wdr(arg, 1);
}

int qvd_vin_get_wdr_shutter_row(simsoc_file *, void *arg)
{
	return with_sensor<qvd_vin_group>(arg, [](simsoc_qvd_sensor_state &st, qvd_vin_group &g) {
		uint64_t rows[2] = {st.wdr_shutter[0], st.wdr_shutter[1]};
		memcpy(g.value, rows, sizeof rows);
		return 0;
	});
}

int qvd_vin_set_wdr_gp(simsoc_file *, void *arg)
{
	return with_sensor<qvd_vin_sht_agc_group>(
	    arg, [](simsoc_qvd_sensor_state &st, qvd_vin_sht_agc_group &g) {
		    take_groups(st.wdr_shutter, st.wdr_again, st.wdr_dgain, g);
		    return 0;
	    });
}

int qvd_vin_set_pending_sht_agc(simsoc_file *, void *arg)
{
	return with_sensor<qvd_vin_sht_agc_group>(
	    arg, [](simsoc_qvd_sensor_state &st, qvd_vin_sht_agc_group &g) {
		    take_groups(st.pending_shutter, st.pending_again, st.pending_dgain, g);
		    st.pending = 1;
		    return 0;
	    });
}

int qvd_vin_set_pending_sht_agc_seq(simsoc_file *, void *arg)
{
	qvd_vin_sht_agc_seq rec;
	memcpy(&rec, arg, sizeof rec);
	int32_t source = rec.source_id;
	if (!qvd_board_vin_of(source, nullptr))
		return -EINVAL;
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	s.seq[source] = rec;
	simsoc_log("qvd: sht/agc sequence source %d shutter %u agc %u", (int)source, rec.shutter[0],
	           rec.agc[0]);
	return 0;
}

// The sequences of the VINs named become the sources' pending exposures
// (context 0), taken at their next tick.
int qvd_img_apply_seq(simsoc_file *, void *arg)
{
	qvd_apply_seq rec;
	memcpy(&rec, arg, sizeof rec);
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	for (unsigned v = 0; v < 4; v++) {
		int32_t source;
		if (!qvd_board_source_of(v, &source))
			continue;
		auto it = s.seq.find(source);
		if (it == s.seq.end())
			continue;
		simsoc_qvd_sensor_state *st = lookup_locked(s, source, 0);
		copy4(st->pending_shutter, it->second.shutter);
		copy4(st->pending_again, it->second.agc);
		copy4(st->pending_dgain, it->second.dgain);
		st->pending = 1;
		s.seq.erase(it);
	}
	simsoc_log("qvd: apply sequences %u %u %u %u", rec.count[0], rec.count[1], rec.count[2],
	           rec.count[3]);
	return 0;
}

int qvd_vin_aaa_compensation(simsoc_file *, void *arg)
{
	return with_sensor<qvd_vin_aaa_comp>(arg, [](simsoc_qvd_sensor_state &st, qvd_vin_aaa_comp &c) {
		memcpy(st.aaa_comp, c.value, sizeof c.value);
		return 0;
	});
}

int qvd_vin_set_low_light(simsoc_file *, void *arg)
{
	qvd_vin_low_light l;
	memcpy(&l, arg, sizeof l);
	if (!qvd_board_vin_of(l.source_id, nullptr))
		return -EINVAL;
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	for (uint32_t c = 0; c < kContexts; c++)
		lookup_locked(s, l.source_id, (int32_t)c)->low_light = l.on;
	return 0;
}

// Crosses or uncrosses every source whose VIN pair takes that context.
int qvd_vin_switch_ctx(simsoc_file *, void *arg)
{
	uint32_t ctx = read_word(arg);
	simsoc_qvd_board b;
	simsoc_qvd_get_board(&b);
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	s.switched_ctx = ctx;
	std::set<int32_t> seen;
	for (uint32_t i = 0; i < b.vin_count; i++) {
		int32_t source = b.vin[i].source_id;
		if (!seen.insert(source).second || !qvd_board_partner_ctx(source, ctx, nullptr))
			continue;
		if (!s.crossed.erase(source))
			s.crossed.insert(source);
	}
	simsoc_log("qvd: switch source context %u", ctx);
	return 0;
}

uint32_t qvd_vin_frame_ctx(int32_t source, uint32_t ctx)
{
	uint32_t partner;
	bool crossed;
	{
		Sensors &s = sensors();
		std::lock_guard<std::mutex> lk(s.mu);
		crossed = s.crossed.count(source) != 0;
	}
	return crossed && qvd_board_partner_ctx(source, ctx, &partner) ? partner : ctx;
}

extern "C" void simsoc_qvd_cross_contexts(int32_t source, int crossed)
{
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	if (crossed)
		s.crossed.insert(source);
	else
		s.crossed.erase(source);
}

extern "C" int simsoc_qvd_contexts_crossed(int32_t source)
{
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	return s.crossed.count(source) != 0;
}

int qvd_vin_lock_ctx(simsoc_file *, void *arg)
{
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	s.lock_frames = read_word(arg);
	return 0;
}

void qvd_vin_reset(void)
{
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	s.state.clear();
	s.regs.clear();
	s.seq.clear();
	s.switched_ctx = s.lock_frames = 0;
	s.crossed.clear();
	s.helmet_plug = s.helmet_access = 0;
	s.helmet_access_err = 0;
}

// The helmet's word follows 8 zero bytes: 64 asks for the plug state, 0 for
// the access state.
int qvd_vin_get_helmet(simsoc_file *, void *arg)
{
	qvd_vin_helmet h;
	memcpy(&h, arg, sizeof h);
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	if (h.value == QVD_HELMET_READ_PLUG)
		h.value = s.helmet_plug;
	else if (h.value == QVD_HELMET_READ_ACCESS && s.helmet_access_err)
		return -s.helmet_access_err;
	else if (h.value == QVD_HELMET_READ_ACCESS)
		h.value = s.helmet_access;
	else
		return -EINVAL;
	memcpy(arg, &h, sizeof h);
	return 0;
}

// Only logged: what a test checks is that the helmet was marked.
int qvd_vin_set_helmet(simsoc_file *, void *)
{
	return 0;
}

extern "C" void simsoc_qvd_set_helmet(uint32_t plug_state, uint32_t access_state)
{
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	s.helmet_plug = plug_state;
	s.helmet_access = access_state;
}

extern "C" void simsoc_qvd_fail_helmet_access(int err)
{
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	s.helmet_access_err = err;
}

extern "C" int simsoc_qvd_sensor(int32_t source, uint32_t ctx, simsoc_qvd_sensor_state *out)
{
	if (!out || ctx >= kContexts)
		return -1;
	Sensors &s = sensors();
	std::lock_guard<std::mutex> lk(s.mu);
	simsoc_qvd_sensor_state *st = lookup_locked(s, source, (int32_t)ctx);
	if (!st)
		return -1;
	*out = *st;
	out->switched_ctx = s.switched_ctx;
	out->lock_frames = s.lock_frames;
	return 0;
}
