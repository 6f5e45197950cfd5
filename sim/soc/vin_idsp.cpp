// "/proc/vorsalind/vin%u_idsp", the video inputs' frame ticks. Every frame
// the driver makes the file readable and a read hands over 8 bytes; a reader
// that fell behind gets the latest frame, not a backlog. A clock thread ticks
// the inputs whose video runs or that have open files, at a non-zero frame
// rate; tests stop the clock and step ticks by hand (simsoc_vin.h).
#include "simsoc.h"
#include "simsoc_internal.h"
#include "simsoc_vin.h"
#include "vorsalind_proc.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

struct TickFile {
	simsoc_file *f;
	unsigned vin;
	uint64_t pending = 0;
	uint64_t frame = 0;
};

struct Input {
	double fps = -1; // below 0: the default
	uint64_t frames = 0;
	uint64_t reads = 0;
	std::vector<TickFile *> files;
	bool video = false;
	Clock::time_point next;
};

struct Ticks {
	std::mutex mu;
	std::condition_variable cv;
	Input inputs[SIMSOC_VIN_INPUTS];
	bool clock_running = false;
};

// Never destroyed: the clock thread is detached and may outlive main().
Ticks &ticks()
{
	static Ticks *t = new Ticks;
	return *t;
}

double default_fps()
{
	const char *s = getenv("SIMSOC_VIN_FRAMERATE");
	if (!s || !*s)
		return 30.0;
	return strtod(s, nullptr);
}

double rate_of(const Input &in)
{
	return in.fps < 0 ? default_fps() : in.fps;
}

Clock::duration period_of(double fps)
{
	return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
}

bool clocked(const Input &in)
{
	return (!in.files.empty() || in.video) && rate_of(in) > 0;
}

// Models that follow the frames (the video driver takes pending exposures
// at a tick); filled by their constructors.
constexpr int kMaxListeners = 4;
std::atomic<int> listener_count{0};
simsoc_vin_tick_listener listeners[kMaxListeners];

void tick_locked(Ticks &t, unsigned vin)
{
	int n = listener_count.load(std::memory_order_acquire);
	for (int i = 0; i < n; i++)
		listeners[i](vin);
	Input &in = t.inputs[vin];
	in.frames++;
	for (TickFile *tf : in.files) {
		tf->pending++;
		tf->frame = in.frames;
		simsoc_file_set_readable(tf->f, 1);
	}
	t.cv.notify_all();
}

void run_clock()
{
	Ticks &t = ticks();
	std::unique_lock<std::mutex> lk(t.mu);
	for (;;) {
		bool any = false;
		Clock::time_point earliest;
		for (const Input &in : t.inputs) {
			if (!clocked(in))
				continue;
			if (!any || in.next < earliest)
				earliest = in.next;
			any = true;
		}
		if (!any) {
			t.clock_running = false;
			return;
		}
		t.cv.wait_until(lk, earliest);
		Clock::time_point now = Clock::now();
		for (unsigned v = 0; v < SIMSOC_VIN_INPUTS; v++) {
			Input &in = t.inputs[v];
			if (!clocked(in) || in.next > now)
				continue;
			tick_locked(t, v);
			in.next += period_of(rate_of(in));
			if (in.next < now)
				in.next = now + period_of(rate_of(in));
		}
	}
}

// Restarts the input's period from now and makes sure the clock runs.
void schedule_locked(Ticks &t, unsigned vin)
{
	Input &in = t.inputs[vin];
	if (!clocked(in))
		return;
	in.next = Clock::now() + period_of(rate_of(in));
	t.cv.notify_all();
	if (t.clock_running)
		return;
	t.clock_running = true;
	std::thread(run_clock).detach();
}

int vin_open(simsoc_file *f)
{
	if (f->unit < 0 || f->unit >= SIMSOC_VIN_INPUTS)
		return -ENOENT;
	if ((f->flags & O_ACCMODE) != O_RDONLY)
		return -EACCES;
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	auto *tf = new TickFile{f, (unsigned)f->unit};
	f->priv = tf;
	Input &in = t.inputs[tf->vin];
	in.files.push_back(tf);
	if (in.files.size() == 1 && !in.video)
		schedule_locked(t, tf->vin);
	simsoc_log("vin%u_idsp: open", tf->vin);
	return 0;
}

void vin_release(simsoc_file *f)
{
	auto *tf = static_cast<TickFile *>(f->priv);
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	auto &files = t.inputs[tf->vin].files;
	files.erase(std::remove(files.begin(), files.end(), tf), files.end());
	simsoc_log("vin%u_idsp: release", tf->vin);
	delete tf;
	t.cv.notify_all();
}

ssize_t vin_read(simsoc_file *f, void *buf, size_t len)
{
	if (len < sizeof(uint64_t))
		return -EINVAL;
	auto *tf = static_cast<TickFile *>(f->priv);
	Ticks &t = ticks();
	std::unique_lock<std::mutex> lk(t.mu);
	while (!tf->pending) {
		if (simsoc_file_status_flags(f) & O_NONBLOCK)
			return -EAGAIN;
		t.cv.wait(lk);
	}
	uint64_t frame = tf->frame;
	tf->pending = 0;
	simsoc_file_set_readable(f, 0);
	t.inputs[tf->vin].reads++;
	memcpy(buf, &frame, sizeof frame);
	return sizeof frame;
}

const simsoc_model_ops vin_ops = {
    .name = "vin_idsp",
    .mode = S_IFREG | 0444,
    .open = vin_open,
    .release = vin_release,
    .read = vin_read,
};

__attribute__((constructor)) void vin_register()
{
	simsoc_register(VORSALIND_VIN_IDSP_PATTERN, &vin_ops, nullptr);
}

bool valid(unsigned vin)
{
	return vin < SIMSOC_VIN_INPUTS;
}

} // namespace

extern "C" void simsoc_vin_set_framerate(unsigned vin, double fps)
{
	if (!valid(vin))
		return;
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	t.inputs[vin].fps = fps > 0 ? fps : 0;
	schedule_locked(t, vin);
}

extern "C" double simsoc_vin_framerate(unsigned vin)
{
	if (!valid(vin))
		return 0;
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	return rate_of(t.inputs[vin]);
}

extern "C" void simsoc_vin_tick(unsigned vin)
{
	if (!valid(vin))
		return;
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	tick_locked(t, vin);
}

extern "C" uint64_t simsoc_vin_frames(unsigned vin)
{
	if (!valid(vin))
		return 0;
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	return t.inputs[vin].frames;
}

extern "C" uint64_t simsoc_vin_reads(unsigned vin)
{
	if (!valid(vin))
		return 0;
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	return t.inputs[vin].reads;
}

extern "C" int simsoc_vin_open_files(unsigned vin)
{
	if (!valid(vin))
		return 0;
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	return (int)t.inputs[vin].files.size();
}

extern "C" void simsoc_vin_reset(void)
{
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	for (unsigned v = 0; v < SIMSOC_VIN_INPUTS; v++) {
		Input &in = t.inputs[v];
		in.fps = -1;
		in.frames = 0;
		in.reads = 0;
		schedule_locked(t, v);
	}
}

void simsoc_vin_add_tick_listener(simsoc_vin_tick_listener fn)
{
	static std::mutex mu;
	std::lock_guard<std::mutex> lk(mu);
	int n = listener_count.load(std::memory_order_relaxed);
	if (!fn || n >= kMaxListeners)
		return;
	listeners[n] = fn;
	listener_count.store(n + 1, std::memory_order_release);
}

void simsoc_vin_set_video(unsigned vin, bool running)
{
	if (!valid(vin))
		return;
	Ticks &t = ticks();
	std::lock_guard<std::mutex> lk(t.mu);
	Input &in = t.inputs[vin];
	bool was = clocked(in);
	in.video = running;
	if (!was)
		schedule_locked(t, vin);
	t.cv.notify_all();
}
