// The running video of each input, and the DSP state that follows it.
#include "qvd.h"
#include "qvd_netlink.h"
#include "simsoc.h"
#include "simsoc_internal.h"
#include "simsoc_netlink.h"
#include "simsoc_qvd.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"

#include <mutex>

namespace
{

struct Video {
	std::mutex transition; // one start or stop at a time, with its commands
	std::mutex mu;
	bool running[SIMSOC_VIN_INPUTS] = {};
};

Video &video()
{
	static Video *v = new Video;
	return *v;
}

// How long the kernel waits for the library's answer to a command.
constexpr int kReplyMs = 2000;

bool any_running(const Video &v)
{
	for (bool r : v.running)
		if (r)
			return true;
	return false;
}

// The DSP runs while any input does. When it starts, the kernel has the
// library prepare and start its 3A; before it stops, the 3A is stopped and
// its answer awaited while the DSP still runs, so the library's frame
// thread never waits on a DSP that will not tick again.
int set_running(unsigned vin, bool run)
{
	if (vin >= SIMSOC_VIN_INPUTS)
		return -1;
	Video &v = video();
	std::lock_guard<std::mutex> serial(v.transition);
	std::unique_lock<std::mutex> lk(v.mu);
	simsoc_log("video: %s %u", run ? "start" : "stop", vin);
	bool was = any_running(v);
	bool last = was && !run && v.running[vin];
	for (unsigned i = 0; i < SIMSOC_VIN_INPUTS; i++)
		last = last && (i == vin || !v.running[i]);
	if (last) {
		lk.unlock();
		simsoc_netlink_command(QVD_NETLINK_STOP_AAA, kReplyMs);
		lk.lock();
	}
	v.running[vin] = run;
	bool now = any_running(v);
	qvd_board_set_dsp_state(now ? 2 : 0);
	lk.unlock();
	simsoc_vin_set_video(vin, run);
	if (now && !was) {
		simsoc_netlink_command(QVD_NETLINK_PREPARE_AAA, kReplyMs);
		simsoc_netlink_command(QVD_NETLINK_START_AAA, kReplyMs);
	}
	return 0;
}

} // namespace

extern "C" int simsoc_video_start(unsigned vin)
{
	return set_running(vin, true);
}

extern "C" int simsoc_video_stop(unsigned vin)
{
	return set_running(vin, false);
}

extern "C" int simsoc_video_running(unsigned vin)
{
	if (vin >= SIMSOC_VIN_INPUTS)
		return 0;
	Video &v = video();
	std::lock_guard<std::mutex> lk(v.mu);
	return v.running[vin];
}

extern "C" void simsoc_video_reset(void)
{
	Video &v = video();
	{
		std::lock_guard<std::mutex> lk(v.mu);
		for (bool &r : v.running)
			r = false;
		qvd_board_set_dsp_state(0);
	}
	for (unsigned vin = 0; vin < SIMSOC_VIN_INPUTS; vin++)
		simsoc_vin_set_video(vin, false);
}
