// "/dev/qvd", the SoC's video driver: the request table, and what the model
// keeps of every request (count, last payload, failures to inject).
#include "qvd.h"
#include "qvd_ioctl.h"
#include "simsoc_internal.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace
{

int accept_plain(simsoc_file *, void *)
{
	return 0;
}

const qvd_ioctl qvd_ioctls[] = {
    {QVD_IOC_SET_DSP_LOG, qvd_set_dsp_log, sizeof(qvd_dsp_log)},
    {QVD_IOC_IMG_SET_MULTI_CHAN_CFG, qvd_set_multi_chan_cfg, sizeof(qvd_multi_chan_cfg)},
    {QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG, qvd_update_multi_chan_cfg, sizeof(qvd_multi_chan_cfg)},
    {QVD_IOC_IMG_APPLY_MULTI_CHAN_CFG, accept_plain, 0},
    {QVD_IOC_QUERY_ENC_MODE_CAP, qvd_query_enc_mode_cap, QVD_ENC_MODE_CAP_SIZE},
    {QVD_IOC_GET_QVD_STATE, qvd_get_state, sizeof(uint32_t)},
    {QVD_IOC_QUERY_SYSTEM_INFO, qvd_query_system_info, sizeof(qvd_system_info)},
    {QVD_IOC_GET_SYSTEM_RESOURCE, qvd_get_system_resource, sizeof(qvd_system_resource)},
    {QVD_IOC_MAP_IMGPROC, qvd_map_imgproc, sizeof(qvd_imgproc_map)},
    {QVD_IOC_GET_VIDEO_PROC, qvd_get_video_proc, sizeof(qvd_video_proc)},
    {QVD_IOC_VIN_GET_VIDEOINFO, qvd_vin_get_videoinfo, sizeof(qvd_vin_videoinfo)},
    {QVD_IOC_VIN_GET_AGC, qvd_vin_get_agc, sizeof(qvd_vin_agc)},
    {QVD_IOC_VIN_GET_AAAINFO, qvd_vin_get_aaainfo, sizeof(qvd_vin_aaa_info)},
    {QVD_IOC_VIN_SET_SHT_AGC, qvd_vin_set_sht_agc, sizeof(qvd_vin_sht_agc)},
    {QVD_IOC_VIN_SET_DGAIN_RATIO, qvd_vin_set_dgain_ratio, sizeof(qvd_vin_dgain_ratio)},
    {QVD_IOC_VIN_GET_DGAIN_RATIO, qvd_vin_get_dgain_ratio, sizeof(qvd_vin_dgain_ratio)},
    {QVD_IOC_VIN_SET_REG, qvd_vin_set_reg, sizeof(qvd_vin_reg)},
    {QVD_IOC_VIN_GET_REG, qvd_vin_get_reg, sizeof(qvd_vin_reg)},
    {QVD_IOC_VIN_SHUTTER2ROW, qvd_vin_shutter2row, sizeof(qvd_vin_shutter_row)},
    {QVD_IOC_VIN_GET_WDR_AGAIN_INDEX_GP, qvd_vin_get_wdr_again, sizeof(qvd_vin_group)},
    {QVD_IOC_VIN_GET_WDR_DGAIN_INDEX_GP, qvd_vin_get_wdr_dgain, sizeof(qvd_vin_group)},
    {QVD_IOC_VIN_GET_WDR_SHUTTER_ROW_GP, qvd_vin_get_wdr_shutter_row, sizeof(qvd_vin_group)},
    {QVD_IOC_VIN_SET_WDR_GP, qvd_vin_set_wdr_gp, sizeof(qvd_vin_sht_agc_group)},
    {QVD_IOC_VIN_SET_PENDING_SHT_AGC, qvd_vin_set_pending_sht_agc, sizeof(qvd_vin_sht_agc_group)},
    {QVD_IOC_VIN_SET_PENDING_SHT_AGC_SEQ, qvd_vin_set_pending_sht_agc_seq, sizeof(qvd_vin_sht_agc_seq)},
    {QVD_IOC_IMG_SET_MULTI_CHAN_APPLY_SEQ_NI, qvd_img_apply_seq, sizeof(qvd_apply_seq)},
    {QVD_IOC_VIN_GET_HELMET_STATE, qvd_vin_get_helmet, sizeof(qvd_vin_helmet)},
    {QVD_IOC_VIN_SET_HELMET_STATE, qvd_vin_set_helmet, sizeof(qvd_vin_helmet)},
    {QVD_IOC_VIN_AAA_COMPENSATION, qvd_vin_aaa_compensation, sizeof(qvd_vin_aaa_comp)},
    {QVD_IOC_VIN_SET_LOW_LIGHT_MODE, qvd_vin_set_low_light, sizeof(qvd_vin_low_light)},
    {QVD_IOC_VIN_SWITCH_VSRC_CTX, qvd_vin_switch_ctx, sizeof(uint32_t)},
    {QVD_IOC_VIN_LOCK_VSRC_CTX_FRAME_CNT, qvd_vin_lock_ctx, sizeof(uint32_t)},
    {QVD_IOC_IMG_GET_STATISTICS, qvd_get_statistics, sizeof(qvd_img_statistics)},
    {QVD_IOC_IMG_GET_LATEST_STATISTICS, qvd_get_latest_statistics, sizeof(qvd_img_statistics)},
    {QVD_IOC_WAIT_NEXT_IDSP_FRAME, qvd_wait_next_idsp_frame, 0},
    {QVD_IOC_APPLY_VIN_IDSP_PENDING_CFG, qvd_apply_vin_idsp_pending_cfg, sizeof(qvd_apply_pending)},
};

struct Failure {
	unsigned long code;
	int kind;
	int err;
	int count;
};

struct Requests {
	std::mutex mu;
	uint64_t total = 0;
	std::map<unsigned long, uint64_t> count;
	std::map<unsigned long, std::vector<uint8_t>> payload;
	std::vector<Failure> fail;
	bool env_read = false;
};

Requests &requests()
{
	static Requests *r = new Requests;
	return *r;
}

// SIMSOC_QVD_FAIL="code:errno[:count];..."
void read_env_locked(Requests &r)
{
	r.env_read = true;
	const char *env = getenv("SIMSOC_QVD_FAIL");
	if (!env)
		return;
	std::string all(env);
	size_t start = 0;
	while (start < all.size()) {
		size_t end = all.find(';', start);
		if (end == std::string::npos)
			end = all.size();
		std::string item = all.substr(start, end - start);
		start = end + 1;
		size_t c1 = item.find(':');
		if (c1 == std::string::npos)
			continue;
		size_t c2 = item.find(':', c1 + 1);
		unsigned long code = strtoul(item.substr(0, c1).c_str(), nullptr, 16);
		int err = simsoc_errno_from_text(
		    item.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1).c_str());
		int count = c2 == std::string::npos ? -1 : atoi(item.c_str() + c2 + 1);
		if (code && err > 0 && count != 0)
			r.fail.push_back(Failure{code, -1, err, count});
	}
}

void record(unsigned long code, const void *arg, unsigned size)
{
	Requests &r = requests();
	std::lock_guard<std::mutex> lk(r.mu);
	if (!r.env_read)
		read_env_locked(r);
	r.total++;
	r.count[code]++;
	std::vector<uint8_t> &p = r.payload[code];
	if (size == 0) {
		unsigned long v = (unsigned long)(uintptr_t)arg;
		p.assign((const uint8_t *)&v, (const uint8_t *)&v + sizeof v);
	} else if (arg) {
		p.assign((const uint8_t *)arg, (const uint8_t *)arg + size);
	} else {
		p.clear();
	}
}

int qvd_dispatch(simsoc_file *f, unsigned long req, void *arg)
{
	for (const qvd_ioctl &e : qvd_ioctls) {
		if (e.request != req)
			continue;
		record(req, arg, e.size);
		int err = qvd_fail_due(req, -1);
		if (err)
			return -err;
		if (!arg && e.size)
			return -EFAULT;
		return e.handle(f, arg);
	}
	record(req, nullptr, 0);
	simsoc_log("qvd: unknown ioctl 0x%lx", req);
	return -ENOTTY;
}

const simsoc_model_ops qvd_ops = {
    .name = "qvd",
    .ioctl = qvd_dispatch,
    .mmap = qvd_mmap,
    .munmap = qvd_munmap,
};

__attribute__((constructor)) void qvd_register()
{
	simsoc_register(QVD_DEVICE, &qvd_ops, nullptr);
}

} // namespace

int qvd_fail_due(unsigned long code, int kind)
{
	Requests &r = requests();
	std::lock_guard<std::mutex> lk(r.mu);
	for (auto it = r.fail.begin(); it != r.fail.end(); ++it) {
		if (it->code != code || it->kind != kind)
			continue;
		int err = it->err;
		if (it->count > 0 && --it->count == 0)
			r.fail.erase(it);
		return err;
	}
	return 0;
}

void qvd_fail_set(unsigned long code, int kind, int err, int count)
{
	Requests &r = requests();
	std::lock_guard<std::mutex> lk(r.mu);
	for (auto it = r.fail.begin(); it != r.fail.end();) {
		bool all = code == 0 && err == 0;
		if (all || (it->code == code && it->kind == kind))
			it = r.fail.erase(it);
		else
			++it;
	}
	if (code && err && count)
		r.fail.push_back(Failure{code, kind, err, count});
}

extern "C" void simsoc_qvd_fail(unsigned long code, int err, int count)
{
	qvd_fail_set(code, -1, err, count);
}

extern "C" uint64_t simsoc_qvd_request_count(unsigned long code)
{
	Requests &r = requests();
	std::lock_guard<std::mutex> lk(r.mu);
	if (code == 0)
		return r.total;
	auto it = r.count.find(code);
	return it == r.count.end() ? 0 : it->second;
}

extern "C" size_t simsoc_qvd_last_payload(unsigned long code, void *out, size_t max)
{
	Requests &r = requests();
	std::lock_guard<std::mutex> lk(r.mu);
	auto it = r.payload.find(code);
	if (it == r.payload.end())
		return 0;
	size_t n = it->second.size() < max ? it->second.size() : max;
	if (out && n)
		memcpy(out, it->second.data(), n);
	return it->second.size();
}

extern "C" void simsoc_qvd_reset(void)
{
	{
		Requests &r = requests();
		std::lock_guard<std::mutex> lk(r.mu);
		r.total = 0;
		r.count.clear();
		r.payload.clear();
		r.fail.clear();
	}
	simsoc_qvd_set_board(nullptr);
	qvd_vin_reset();
	qvd_mem_reset();
	qvd_cfg_reset();
	qvd_stats_reset();
}
