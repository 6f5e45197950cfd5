// The video driver's configuration posts: each request names one part of a
// configuration by its user address; the part and the command queues it
// points at (physical addresses) are copied when the request arrives, as the
// DSP would read them.
#include "qvd.h"
#include "qvd_ioctl.h"
#include "simsoc_qvd.h"

#include <errno.h>
#include <string.h>

#include <mutex>
#include <vector>

namespace
{

struct qvd_cfg_state {
	std::mutex mu;
	std::vector<simsoc_qvd_post_rec> posts;
};

qvd_cfg_state &state()
{
	static qvd_cfg_state *s = new qvd_cfg_state;
	return *s;
}

// Main part: 676 bytes at most; its batch queue address and size live in
// the liso section (main offsets 504 and 502).
constexpr uint32_t kMainSize = 676, kBatchAddr = 504, kBatchSize = 502;
constexpr uint32_t kCeSize = 8, kCeQueue = 1280;
constexpr uint32_t kHdrSize = 104, kHdrQueue = 1024, kHdrQueueAddr = 28;

uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

// Copies device memory at a physical address; false when it is not device
// memory.
bool snap_queue(simsoc_qvd_post_rec *p, unsigned k, uint32_t phys, uint32_t size)
{
	p->queue_phys[k] = phys;
	if (phys == 0 || size == 0)
		return true;
	const void *q = simsoc_mem_virt(phys);
	if (!q || !simsoc_mem_virt(phys + size - 1))
		return false;
	memcpy(p->queue[k], q, size);
	p->queue_size[k] = size;
	return true;
}

int snapshot(simsoc_qvd_post_rec *p)
{
	const void *part = (const void *)(uintptr_t)p->addr;
	static const uint32_t sizes[3] = {kMainSize, kHdrSize, kCeSize};
	p->part_size = sizes[p->kind];
	if (!simsoc_mem_phys(part) || !simsoc_mem_phys((const uint8_t *)part + p->part_size - 1))
		return -EFAULT;
	memcpy(p->part, part, p->part_size);
	bool ok = true;
	if (p->kind == QVD_CFG_KIND_CE) {
		ok = snap_queue(p, 0, rd32(p->part), kCeQueue);
	} else if (p->kind == QVD_CFG_KIND_HDR) {
		ok = snap_queue(p, 0, rd32(p->part + kHdrQueueAddr), kHdrQueue) &&
		     snap_queue(p, 1, rd32(p->part + kHdrQueueAddr + 4), kHdrQueue);
	} else {
		uint16_t size;
		memcpy(&size, p->part + kBatchSize, 2);
		ok = snap_queue(p, 0, rd32(p->part + kBatchAddr), size > kCeQueue ? kCeQueue : size);
	}
	return ok ? 0 : -EFAULT;
}

} // namespace

namespace
{

int post_cfg(unsigned long req, void *arg)
{
	if (!arg)
		return -EFAULT;
	qvd_multi_chan_cfg rec;
	memcpy(&rec, arg, sizeof rec);
	const char *name = req == QVD_IOC_IMG_SET_MULTI_CHAN_CFG ? "set" : "update";
	simsoc_log("qvd: %s multi chan cfg ctx %u kind %u addr 0x%llx mask 0x%08x", name, rec.ctx_id,
	           rec.kind, (unsigned long long)rec.addr, rec.update_mask);
	if (rec.kind > QVD_CFG_KIND_CE || rec.reserved != 0)
		return -EINVAL;
	qvd_cfg_state &s = state();
	if (int err = qvd_fail_due(req, (int)rec.kind))
		return -err;
	simsoc_qvd_post_rec *p = new simsoc_qvd_post_rec();
	p->request = req;
	p->ctx_id = rec.ctx_id;
	p->kind = rec.kind;
	p->addr = rec.addr;
	p->update_mask = rec.update_mask;
	int rc = snapshot(p);
	if (rc == 0) {
		std::lock_guard<std::mutex> lk(s.mu);
		s.posts.push_back(*p);
	}
	if (rc == 0)
		qvd_stats_posted(p);
	delete p;
	return rc;
}

} // namespace

int qvd_set_multi_chan_cfg(simsoc_file *, void *arg)
{
	return post_cfg(QVD_IOC_IMG_SET_MULTI_CHAN_CFG, arg);
}

int qvd_update_multi_chan_cfg(simsoc_file *, void *arg)
{
	return post_cfg(QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG, arg);
}

extern "C" size_t simsoc_qvd_posts(void)
{
	qvd_cfg_state &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	return s.posts.size();
}

extern "C" int simsoc_qvd_post(size_t i, simsoc_qvd_post_rec *out)
{
	qvd_cfg_state &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	if (i >= s.posts.size() || !out)
		return -1;
	*out = s.posts[i];
	return 0;
}

extern "C" void simsoc_qvd_posts_clear(void)
{
	qvd_cfg_state &s = state();
	std::lock_guard<std::mutex> lk(s.mu);
	s.posts.clear();
}

void qvd_cfg_reset(void)
{
	simsoc_qvd_posts_clear();
}

// Posts fail by part kind: a failure of both post codes for that kind.
extern "C" void simsoc_qvd_fail_kind(int kind, int err)
{
	static const unsigned long codes[] = {QVD_IOC_IMG_SET_MULTI_CHAN_CFG,
	                                      QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG};
	for (int k = 0; k <= (int)QVD_CFG_KIND_CE; k++)
		if (kind < 0 || k == kind)
			for (unsigned long code : codes)
				qvd_fail_set(code, k, kind < 0 ? 0 : err, -1);
}
