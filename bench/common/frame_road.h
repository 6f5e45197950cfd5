// The daemon's per-frame road with nothing on it: the platform's poll and
// read of a frame tick, the statistics record, and the control engine's
// dispatch to one step that only reads the record. The platform makes a
// record only while 3A runs: the camera library is brought up as in the
// daemon (the simulated kernel has it prepare and start when the video
// starts), its frame thread held. The root holds the colour-correction
// files the library's prepare reads.
#pragma once

#include <benchmark/benchmark.h>
#include <poll.h>

#include <string>
#include <vector>

#include "core/control.h"
#include "libcl_bench.h"
#include "platform/frame_source.h"
#include "platform/input_source.h"
#include "platform/platform_vorsalind.h"
#include "simsoc_vin.h"

namespace bench
{

class EmptyRoad
{
      public:
	explicit EmptyRoad(const std::string &root)
	{
		bool library = libcl_init_held(1, root);
		plat_ = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub_), 1);
		engine_ = control_new(plat_);
		algo_step *step = algo_step_create(nullptr, consume, nullptr, nullptr);
		algo_step_add_input(step, PLATFORM_DATA_SOC_STATS);
		algo_group *group = algo_group_create(nullptr);
		algo_group_insert(group, step);
		control_add_group(engine_, group);
		up_ =
		    library &&
		    with_clock([this] { return platform_sync_config_for_stream(plat_, 0); }) == PLATFORM_OK &&
		    cl_customerloop_aaa_started();
		consumed() = 0;
	}
	~EmptyRoad()
	{
		control_stop(engine_);
		control_free(engine_);
		platform_destroy(plat_);
		libcl_bring_down();
	}
	EmptyRoad(const EmptyRoad &) = delete;
	EmptyRoad &operator=(const EmptyRoad &) = delete;

	// false when the platform has no frame source or 3A did not start.
	bool up() const
	{
		return up_;
	}
	// Records the step has read.
	static uint64_t &consumed()
	{
		static uint64_t n;
		return n;
	}
	// One frame after its tick.
	void frame()
	{
		plat_->prepare(plat_);
		if (plat_->sources_changed) {
			int *list = nullptr, *writer = nullptr, count = 0;
			platform_get_input_fds(plat_, &list, &writer, &count);
			fds_.clear();
			for (int i = 0; i < count; i++)
				fds_.push_back({list[i], (short)(POLLIN | POLLERR | POLLHUP), 0});
			g_free(list);
			g_free(writer);
			plat_->sources_changed = 0;
		}
		plat_->poll(fds_.data(), fds_.size(), -1);
		ready_.clear();
		for (const pollfd &f : fds_)
			if (f.revents & (POLLIN | POLLPRI | POLLOUT | POLLHUP))
				ready_.push_back(f.fd);
		GList *records = plat_->dispatch_ready_fds(plat_, ready_.data(), (int)ready_.size());
		for (GList *l = records; l; l = l->next)
			control_queue_job(engine_, static_cast<control_job *>(l->data));
		control_dispatch(engine_, nullptr);
		platform_release_data(plat_, nullptr);
		g_list_free(records);
	}

      private:
	static int consume(algo_step *, control *engine)
	{
		auto *record = reinterpret_cast<platform_soc_stats *>(control_get_input(engine));
		// Read the statistics so the fill is not optimised away, but count
		// the record whatever it holds.
		uint32_t first_bin = record->channel[0].cfa_hist.his_bin_y[0];
		benchmark::DoNotOptimize(first_bin);
		consumed()++;
		return 0;
	}

	struct {
		int unused;
	} conf_stub_{};
	platform *plat_;
	control *engine_;
	bool up_;
	std::vector<pollfd> fds_;
	std::vector<int> ready_;
};

} // namespace bench
