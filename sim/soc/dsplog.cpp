// "/dev/dsplog", the DSP's log stream. It plays back the bytes of the file
// named by SIMSOC_DSPLOG_DATA once capture has started, in reads of varying
// size (as the device hands over whatever the DSP wrote since the last
// read), then blocks like the device until capture is stopped, after which
// reads give 0.
#include "dsplog_ioctl.h"
#include "simsoc.h"
#include "simsoc_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace
{

// Read sizes cycle through these, capped by the caller's buffer.
const size_t read_sizes[] = {1048576 + 4099, 2097152, 333333, 1500000, 77, 2097152, 65536};

struct DspLog {
	std::mutex mu;
	std::condition_variable cv;
	std::vector<uint8_t> data;
	size_t pos = 0;
	size_t reads = 0;
	bool started = false;
	bool stopped = false;
};

bool load(DspLog *d)
{
	const char *path = getenv("SIMSOC_DSPLOG_DATA");
	if (!path || !*path)
		return true;
	int fd = simsoc_real_open(path, O_RDONLY | O_CLOEXEC, 0);
	if (fd < 0)
		return false;
	uint8_t buf[65536];
	ssize_t n;
	while ((n = read(fd, buf, sizeof buf)) > 0)
		d->data.insert(d->data.end(), buf, buf + n);
	simsoc_real_close(fd);
	return n == 0;
}

int dsplog_open(simsoc_file *f)
{
	auto *d = new DspLog;
	if (!load(d)) {
		delete d;
		return -EIO;
	}
	f->priv = d;
	simsoc_log("dsplog: open, %zu bytes to play", d->data.size());
	return 0;
}

void dsplog_release(simsoc_file *f)
{
	auto *d = static_cast<DspLog *>(f->priv);
	simsoc_log("dsplog: release after %zu bytes", d->pos);
	delete d;
}

ssize_t dsplog_read(simsoc_file *f, void *buf, size_t len)
{
	auto *d = static_cast<DspLog *>(f->priv);
	std::unique_lock<std::mutex> lk(d->mu);
	if (!d->started && !d->stopped)
		return -EIO;
	bool nonblock = simsoc_file_status_flags(f) & O_NONBLOCK;
	while (!d->stopped && d->pos == d->data.size()) {
		if (nonblock)
			return -EAGAIN;
		d->cv.wait(lk);
	}
	if (d->stopped)
		return 0;
	size_t want = read_sizes[d->reads++ % (sizeof read_sizes / sizeof read_sizes[0])];
	size_t n = std::min(std::min(len, want), d->data.size() - d->pos);
	memcpy(buf, d->data.data() + d->pos, n);
	d->pos += n;
	if (d->pos == d->data.size())
		simsoc_log("dsplog: played all %zu bytes", d->pos);
	return (ssize_t)n;
}

int dsplog_ioctl(simsoc_file *f, unsigned long req, void *)
{
	auto *d = static_cast<DspLog *>(f->priv);
	std::lock_guard<std::mutex> lk(d->mu);
	if (req == VORS_IOC_DSPLOG_START_CAPUTRE) {
		d->started = true;
		simsoc_log("dsplog: start capture");
		return 0;
	}
	if (req == VORS_IOC_DSPLOG_STOP_CAPUTRE) {
		d->stopped = true;
		d->cv.notify_all();
		simsoc_log("dsplog: stop capture");
		return 0;
	}
	return -ENOTTY;
}

const simsoc_model_ops dsplog_ops = {
    .name = "dsplog",
    .mode = 0,
    .open = dsplog_open,
    .release = dsplog_release,
    .read = dsplog_read,
    .write = nullptr,
    .ioctl = dsplog_ioctl,
};

__attribute__((constructor)) void dsplog_register()
{
	simsoc_register(DSPLOG_DEVICE, &dsplog_ops, nullptr);
}

} // namespace
