#pragma once
// A lens block on the simulated lens controller: the common MCU camera block
// over i2c-1 at 0x43 with a generated trace model of the DF010NL's layout,
// ten curves, a 21-point zoom table, and the tracepoints it fires
// collected through the wrappers' observer.

#include <errno.h>
#include <simsoc_i2c.h>
#include <simsoc_lens_mcu.h>

#include <string>
#include <vector>

#include "core/param_db.h"
#include "core/param_map.h"
#include "optics/camblock_mcu.h"
#include "optics/camblock_tp.h"
#include "optics/camblock_trace.h"
#include "optics/focus_zoom.h"
#include "optics/lens_components.h"
#include "optics_fixture.h"
#include "trace_gen.h"

struct TraceEvent {
	std::string name;
	int64_t first;
	int64_t second;
	bool operator==(const TraceEvent &o) const
	{
		return name == o.name && first == o.first && second == o.second;
	}
};

inline std::ostream &operator<<(std::ostream &out, const TraceEvent &e)
{
	return out << e.name << "(" << e.first << ", " << e.second << ")";
}

// Dioptres of the ten curves (Q14): 0, 0.1, 0.2, 0.333, 0.667, 1, 1.25, 2,
// 3.333 and 10.
const int32_t lens_distances[10] = {0, 1638, 3277, 5456, 10928, 16384, 20480, 32768, 54608, 163840};

// 21 zoom points from 20 to 2448 with magnifications 1.0 to 3.0, focal
// lengths 4 to 12 mm and their half reciprocals in format 24.
struct LensZoomTables {
	int32_t positions[21];
	int32_t magnifications[21];
	int32_t focal_lengths[21];
	int32_t focal_model[21];
	camblock_zoom_tables tables;
	LensZoomTables()
	{
		for (int i = 0; i < 21; i++) {
			positions[i] = 20 + i * 2428 / 20;
			magnifications[i] = 16384 + i * 32768 / 20;
			double mm = 4.0 + 8.0 * i / 20;
			focal_lengths[i] = (int32_t)(mm * 16384);
			focal_model[i] = (int32_t)(0.5 / mm * (1 << 24));
		}
		tables = {21, positions, magnifications, focal_lengths, focal_model, 24, nullptr};
	}
};

class LensMcuTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		// The parameters the lens reads and publishes need their map.
		ASSERT_EQ(0, param_map_init());
		OpticsTest::SetUp();
		simsoc_lens_mcu_reset();
		mcu_ = simsoc_lens_mcu_add(1, 0x43);
		camblock_tp_set_observer(observe, &events_);
		block_ = make_block(0);
		ASSERT_NE(nullptr, block_->mcu.trace);
	}
	void TearDown() override
	{
		OpticsTest::TearDown();
		param_map_free();
		camblock_tp_set_observer(nullptr, nullptr);
		simsoc_lens_mcu_reset();
	}

	// A block on the stream with the fixture's lens data, on the platform.
	camblock *make_block(int32_t stream_id)
	{
		camblock *b = camblock_mcu_common(engine_, plat_, stream_id,
		                                  camblock_lens_device_open(plat_, "/dev/i2c-1"), 0x43);
		camblock_mcu *m = &b->mcu;
		m->trace = camblock_trace_new(model_.trace());
		m->distances = lens_distances;
		m->curve_count = 10;
		m->max_index = 4608;
		m->min_index = -16384;
		m->near_index = 4608;
		m->far_index = 0;
		m->near_limit = 163840;
		m->far_limit = 0;
		m->frame_rate = 30;
		return b;
	}

	// The lens's focus and zoom units over the block, handed to the platform.
	void add_units(camblock_lens lens, int flag = 0, int32_t max_magnification = 0,
	               int32_t min_position = -1)
	{
		zoom_ = camblock_zoom_new(block_, lens, &zoom_tables_.tables, flag, max_magnification,
		                          min_position);
		focus_ = camblock_focus_new(block_, lens, flag);
		ASSERT_NE(nullptr, zoom_);
		ASSERT_NE(nullptr, focus_);
		camblock_set_zoom(block_, zoom_);
		control_add_zoom(engine_, zoom_, block_->stream_id);
		camblock_set_focus(block_, focus_);
		control_add_focus(engine_, focus_, block_->stream_id);
	}

	std::string writes()
	{
		return take_text(simsoc_lens_mcu_writes(mcu_));
	}
	// The writes so far, forgetting them.
	std::string take_writes()
	{
		std::string w = writes();
		simsoc_lens_mcu_clear_writes(mcu_);
		events_.clear();
		return w;
	}
	std::string protocol_errors()
	{
		return take_text(simsoc_lens_mcu_errors(mcu_));
	}
	// The adapter's messages after the first skip of them.
	std::string i2c_messages(size_t skip = 0)
	{
		std::string all = take_text(simsoc_i2c_messages());
		size_t at = 0;
		for (size_t i = 0; i < skip && at != std::string::npos; i++) {
			at = all.find('\n', at);
			if (at != std::string::npos)
				at++;
		}
		return at == std::string::npos ? "" : all.substr(at);
	}
	size_t i2c_message_count()
	{
		std::string all = take_text(simsoc_i2c_messages());
		size_t n = 0;
		for (char c : all)
			n += c == '\n';
		return n;
	}
	std::vector<TraceEvent> events_named(const std::string &name) const
	{
		std::vector<TraceEvent> out;
		for (const TraceEvent &e : events_)
			if (e.name == name)
				out.push_back(e);
		return out;
	}
	// The focus position of the fixture's curves, as the block computes it.
	int32_t trace_position(int32_t zoom, int32_t index, int32_t set = 0)
	{
		return (int32_t)camblock_trace_focus_position(block_->mcu.trace, zoom, index, set, 0);
	}

	static void observe(const char *event, int64_t first, int64_t second, void *data)
	{
		static_cast<std::vector<TraceEvent> *>(data)->push_back({event, first, second});
	}

	TraceModel model_{trace_design_df010nl()};
	LensZoomTables zoom_tables_;
	simsoc_lens_mcu *mcu_ = nullptr;
	camblock *block_ = nullptr;
	zoom_object *zoom_ = nullptr;
	focus_object *focus_ = nullptr;
	std::vector<TraceEvent> events_;
};
