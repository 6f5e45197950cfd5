// The dma-buf model: a mappable buffer that records its cache syncs.
#include <errno.h>
#include <linux/dma-buf.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "simsoc.h"
#include "simsoc_dmabuf.h"

namespace
{

struct Record {
	std::mutex mu;
	std::vector<simsoc_dmabuf_sync> syncs;
	int failures = 0;
	int failure_err = 0;
	int opens = 0;
};

Record &record()
{
	static Record r;
	return r;
}

uint64_t now_ns()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

int dmabuf_open(simsoc_file *f)
{
	int fd = memfd_create("simsoc-dmabuf", MFD_CLOEXEC);
	if (fd < 0)
		return -errno;
	if (ftruncate(fd, SIMSOC_DMABUF_SIZE) != 0) {
		int e = errno;
		close(fd);
		return -e;
	}
	f->backing_fd = fd;
	Record &r = record();
	std::lock_guard<std::mutex> lk(r.mu);
	f->priv = reinterpret_cast<void *>(static_cast<intptr_t>(r.opens++));
	simsoc_log("dmabuf: open %d", static_cast<int>(reinterpret_cast<intptr_t>(f->priv)));
	return 0;
}

int dmabuf_ioctl(simsoc_file *f, unsigned long req, void *arg)
{
	if (req != DMA_BUF_IOCTL_SYNC)
		return -ENOTTY;
	const auto *sync = static_cast<const struct dma_buf_sync *>(arg);
	Record &r = record();
	std::lock_guard<std::mutex> lk(r.mu);
	simsoc_dmabuf_sync entry{static_cast<int>(reinterpret_cast<intptr_t>(f->priv)), sync->flags, 0,
	                         now_ns()};
	if (r.failures > 0) {
		r.failures--;
		entry.result = -r.failure_err;
	}
	r.syncs.push_back(entry);
	simsoc_log("dmabuf: sync %d flags 0x%llx result %d", entry.fd_unit,
	           static_cast<unsigned long long>(entry.flags), entry.result);
	return entry.result;
}

const simsoc_model_ops dmabuf_ops = {.name = "dmabuf", .open = dmabuf_open, .ioctl = dmabuf_ioctl};

__attribute__((constructor)) void dmabuf_register()
{
	simsoc_register(SIMSOC_DMABUF_PATH, &dmabuf_ops, nullptr);
}

} // namespace

extern "C" void simsoc_dmabuf_fail_syncs(int count, int err)
{
	Record &r = record();
	std::lock_guard<std::mutex> lk(r.mu);
	r.failures = count;
	r.failure_err = err;
}

extern "C" size_t simsoc_dmabuf_syncs(simsoc_dmabuf_sync *out, size_t max)
{
	Record &r = record();
	std::lock_guard<std::mutex> lk(r.mu);
	std::copy_n(r.syncs.begin(), std::min(max, r.syncs.size()), out);
	return r.syncs.size();
}

extern "C" void simsoc_dmabuf_clear(void)
{
	Record &r = record();
	std::lock_guard<std::mutex> lk(r.mu);
	r.syncs.clear();
	r.failures = 0;
	r.opens = 0;
}
