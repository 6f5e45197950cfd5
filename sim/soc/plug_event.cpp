// "/proc/vorsalind/plug_event": the driver makes the file readable when an
// extension unit is plugged or unplugged; each event is one byte to read.
#include "simsoc.h"
#include "simsoc_vin.h"
#include "vorsalind_proc.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace
{

struct PlugFile {
	simsoc_file *f;
	std::deque<uint8_t> events;
};

struct PlugEvents {
	std::mutex mu;
	std::condition_variable cv;
	std::vector<PlugFile *> files;
	uint64_t reads = 0;
};

PlugEvents &plug()
{
	static PlugEvents *p = new PlugEvents;
	return *p;
}

int plug_open(simsoc_file *f)
{
	if ((f->flags & O_ACCMODE) != O_RDONLY)
		return -EACCES;
	PlugEvents &p = plug();
	std::lock_guard<std::mutex> lk(p.mu);
	auto *pf = new PlugFile{f, {}};
	f->priv = pf;
	p.files.push_back(pf);
	simsoc_log("plug_event: open");
	return 0;
}

void plug_release(simsoc_file *f)
{
	auto *pf = static_cast<PlugFile *>(f->priv);
	PlugEvents &p = plug();
	std::lock_guard<std::mutex> lk(p.mu);
	p.files.erase(std::remove(p.files.begin(), p.files.end(), pf), p.files.end());
	delete pf;
}

ssize_t plug_read(simsoc_file *f, void *buf, size_t len)
{
	if (len < 1)
		return -EINVAL;
	auto *pf = static_cast<PlugFile *>(f->priv);
	PlugEvents &p = plug();
	std::unique_lock<std::mutex> lk(p.mu);
	while (pf->events.empty()) {
		if (simsoc_file_status_flags(f) & O_NONBLOCK)
			return -EAGAIN;
		p.cv.wait(lk);
	}
	*static_cast<uint8_t *>(buf) = pf->events.front();
	pf->events.pop_front();
	if (pf->events.empty())
		simsoc_file_set_readable(f, 0);
	p.reads++;
	return 1;
}

const simsoc_model_ops plug_ops = {
    .name = "plug_event",
    .mode = S_IFREG | 0444,
    .open = plug_open,
    .release = plug_release,
    .read = plug_read,
};

__attribute__((constructor)) void plug_register()
{
	simsoc_register(VORSALIND_PLUG_EVENT, &plug_ops, nullptr);
}

} // namespace

extern "C" void simsoc_plug_event_raise(uint8_t value)
{
	PlugEvents &p = plug();
	std::lock_guard<std::mutex> lk(p.mu);
	for (PlugFile *pf : p.files) {
		pf->events.push_back(value);
		simsoc_file_set_readable(pf->f, 1);
	}
	simsoc_log("plug_event: event %u", value);
	p.cv.notify_all();
}

extern "C" uint64_t simsoc_plug_event_reads(void)
{
	PlugEvents &p = plug();
	std::lock_guard<std::mutex> lk(p.mu);
	return p.reads;
}
