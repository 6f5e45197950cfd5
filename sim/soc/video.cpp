// The running video of each input, and the DSP state that follows it.
#include "qvd.h"
#include "simsoc.h"
#include "simsoc_qvd.h"
#include "simsoc_video.h"
#include "simsoc_vin.h"

#include <mutex>

namespace
{

struct Video {
	std::mutex mu;
	bool running[SIMSOC_VIN_INPUTS] = {};
};

Video &video()
{
	static Video *v = new Video;
	return *v;
}

// Under the lock: the driver reports its DSP as running while any input is.
void update_dsp_state(const Video &v)
{
	bool any = false;
	for (bool r : v.running)
		any = any || r;
	qvd_board_set_dsp_state(any ? 2 : 0);
}

int set_running(unsigned vin, bool run)
{
	if (vin >= SIMSOC_VIN_INPUTS)
		return -1;
	Video &v = video();
	std::lock_guard<std::mutex> lk(v.mu);
	simsoc_log("video: %s %u", run ? "start" : "stop", vin);
	v.running[vin] = run;
	update_dsp_state(v);
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
	std::lock_guard<std::mutex> lk(v.mu);
	for (bool &r : v.running)
		r = false;
	update_dsp_state(v);
}
