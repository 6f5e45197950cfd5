// The camera block's dispatchers over spy slots: one row per dispatcher.

#include "optics/camblock.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/platform.h"

namespace
{

struct Call {
	int slot;
	std::vector<int64_t> args;
	bool operator==(const Call &o) const
	{
		return slot == o.slot && args == o.args;
	}
};

std::vector<Call> calls;

// Every spy answers 1000 + its slot number.
template <typename... A> int32_t record(int slot, A... args)
{
	calls.push_back({slot, {(int64_t)args...}});
	return 1000 + slot;
}

int64_t addr(const void *p)
{
	return (int64_t)(intptr_t)p;
}

uint32_t h_out, v_out, k_out[4], first_out, second_out;
int event_record[2] = {39, 0};
int state_record[8];
camblock_event *const event = reinterpret_cast<camblock_event *>(event_record);
optics_state *const state = reinterpret_cast<optics_state *>(state_record);

void fill_slots(camblock *b)
{
	b->start_init = [](camblock *) { return record(1); };
	b->spare_op = [](camblock *) { return record(2); };
	b->write_register = [](camblock *, uint16_t r, uint16_t v) { return record(3, r, v); };
	b->read_register = [](camblock *, uint16_t r) { return record(4, r); };
	b->set_focus_limits = [](camblock *, int32_t n, int32_t f) { return record(5, n, f); };
	b->update_focus_limits = [](camblock *) { return record(6); };
	b->set_distance_index = [](camblock *, int32_t i) { return record(7, i); };
	b->set_trace_mode = [](camblock *, uint32_t m, int32_t a, int32_t c) { return record(8, m, a, c); };
	b->set_trace_curve = [](camblock *, uint32_t s) { return record(9, s); };
	b->distance_index_to_focus_position = [](camblock *, int32_t z, int32_t i) {
		return record(10, z, i);
	};
	b->dioptres_to_focus_position = [](camblock *, int32_t z, int32_t d) { return record(11, z, d); };
	b->focus_position_to_distance_index = [](camblock *, int32_t z, int32_t p) {
		return record(12, z, p);
	};
	b->focus_position_to_dioptres = [](camblock *, int32_t z, int32_t p) { return record(13, z, p); };
	b->get_lens_temperature = [](camblock *) { return record(14); };
	b->dioptres_to_distance_index = [](camblock *, int32_t d, int32_t e) { return record(15, d, e); };
	b->distance_index_to_dioptres = [](camblock *, int32_t i) { return record(16, i); };
	b->get_fov_at_focus_position = [](camblock *, int32_t z, int32_t p, uint32_t *h, uint32_t *v,
	                                  int32_t s) { return record(17, z, p, addr(h), addr(v), s); };
	b->focal_length_at_focus_position = [](camblock *, int32_t z, int32_t p) { return record(18, z, p); };
	b->get_current_fov = [](camblock *, uint32_t *h, uint32_t *v, int32_t s) {
		return record(19, addr(h), addr(v), s);
	};
	b->get_current_focal_length = [](camblock *) { return record(20); };
	b->distance_index_for_object_width = [](camblock *, int32_t z, int32_t w) {
		return record(21, z, w);
	};
	b->get_lens_distortion = [](camblock *, int32_t z, int32_t f, int p, uint32_t *k0, uint32_t *k1,
	                            uint32_t *k2, uint32_t *k3) {
		return record(22, z, f, p, addr(k0), addr(k1), addr(k2), addr(k3));
	};
	b->set_focus_dioptres = [](camblock *, int32_t d, int m) { return record(23, d, m); };
	b->destroy = [](camblock *) { record(24); };
	b->set_motor_timing = [](camblock *, int32_t f, int32_t n) { return record(25, f, n); };
	b->set_motor_speed = [](camblock *, int32_t s) { return record(26, s); };
	b->frame_report = [](camblock *, int32_t v) { return record(27, v); };
	b->poll = [](camblock *, optics_state *s) { return record(28, addr(s)); };
	b->refresh = [](camblock *, optics_state *s) { return record(29, addr(s)); };
	b->capture_mode_changed = [](camblock *, int32_t s) { return record(30, s); };
	b->focal_length_at_distance_index = [](camblock *, int32_t z, int32_t i) { return record(31, z, i); };
	b->get_fov_at_distance_index = [](camblock *, int32_t z, int32_t i, uint32_t *h, uint32_t *v,
	                                  int32_t s) { return record(32, z, i, addr(h), addr(v), s); };
	b->get_error_code = [](camblock *) { return record(33); };
	b->poll_init = [](camblock *) { return record(34); };
	b->handle_event = [](camblock *, int32_t w, camblock_event *e) { return record(35, w, addr(e)); };
	b->get_depth_of_field = [](camblock *) { return record(36); };
	b->get_depth_of_field_steps = [](camblock *, int32_t z, int32_t p) { return record(37, z, p); };
	b->get_temperature_pair = [](camblock *, int32_t t, uint32_t *a, uint32_t *c) {
		return record(38, t, addr(a), addr(c));
	};
	b->get_focus_reg12 = [](camblock *) { return record(39); };
	b->get_focus_reg17 = [](camblock *) { return record(40); };
	b->set_focus_reg17 = [](camblock *, int32_t v) { return record(41, v); };
	b->update_aperture = [](camblock *) { return record(42); };
}

int out_value;

enum Check { PLATFORM, BLOCK_ONLY };

// A dispatcher, what it answers for a missing block, platform or slot,
// whether it needs the platform, how it empties its slot and what the slot
// must see. Boolean getters answer 1 and store the slot's value.
struct Row {
	int slot;
	int32_t missing;
	Check check;
	std::function<int32_t(camblock *)> call;
	std::vector<int64_t> args;
	std::function<void(camblock *)> empty;
	bool boolean = false;
};

#define EMPTY(field) [](camblock *b) { b->field = nullptr; }

std::vector<Row> rows()
{
	int64_t h = addr(&h_out), v = addr(&v_out);
	return {
	    {1, -3, PLATFORM, [](camblock *b) { return camblock_start_init(b); }, {}, EMPTY(start_init)},
	    {2, -3, PLATFORM, [](camblock *b) { return camblock_spare_op(b); }, {}, EMPTY(spare_op)},
	    {3,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_write_register(b, 0x306, 0xBEEF); },
	     {0x306, 0xBEEF},
	     EMPTY(write_register)},
	    {4,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_read_register(b, 0x100); },
	     {0x100},
	     EMPTY(read_register)},
	    {5,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_set_focus_limits(b, 16384, -3277); },
	     {16384, -3277},
	     EMPTY(set_focus_limits)},
	    {6,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_update_focus_limits(b); },
	     {},
	     EMPTY(update_focus_limits)},
	    {7,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_set_distance_index(b, 4608); },
	     {4608},
	     EMPTY(set_distance_index)},
	    {8,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_set_trace_mode(b, 2, 5, 6); },
	     {2, 5, 6},
	     EMPTY(set_trace_mode)},
	    {9,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_set_trace_curve(b, 1); },
	     {1},
	     EMPTY(set_trace_curve)},
	    {10,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_distance_index_to_focus_position(b, 1200, 1536); },
	     {1200, 1536},
	     EMPTY(distance_index_to_focus_position)},
	    {11,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_dioptres_to_focus_position(b, 1200, 8192); },
	     {1200, 8192},
	     EMPTY(dioptres_to_focus_position)},
	    {12,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_focus_position_to_distance_index(b, 1200, 3000); },
	     {1200, 3000},
	     EMPTY(focus_position_to_distance_index)},
	    {13,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_focus_position_to_dioptres(b, 1200, 3000); },
	     {1200, 3000},
	     EMPTY(focus_position_to_dioptres)},
	    {14,
	     0,
	     PLATFORM,
	     [](camblock *b) { return camblock_get_lens_temperature(b, &out_value); },
	     {},
	     EMPTY(get_lens_temperature),
	     true},
	    {15,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_dioptres_to_distance_index(b, -52429, 300); },
	     {-52429, 300},
	     EMPTY(dioptres_to_distance_index)},
	    {16,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_distance_index_to_dioptres(b, -16384); },
	     {-16384},
	     EMPTY(distance_index_to_dioptres)},
	    {17,
	     -3,
	     PLATFORM,
	     [](camblock *b) {
		     return camblock_get_fov_at_focus_position(b, 1200, 3000, &h_out, &v_out, 16384);
	     },
	     {1200, 3000, h, v, 16384},
	     EMPTY(get_fov_at_focus_position)},
	    {18,
	     0,
	     PLATFORM,
	     [](camblock *b) { return camblock_focal_length_at_focus_position(b, 1200, 3000); },
	     {1200, 3000},
	     EMPTY(focal_length_at_focus_position)},
	    {19,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_get_current_fov(b, &h_out, &v_out, 8192); },
	     {h, v, 8192},
	     EMPTY(get_current_fov)},
	    {20,
	     0,
	     PLATFORM,
	     [](camblock *b) { return camblock_get_current_focal_length(b); },
	     {},
	     EMPTY(get_current_focal_length)},
	    {21,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_distance_index_for_object_width(b, 1200, 24576); },
	     {1200, 24576},
	     EMPTY(distance_index_for_object_width)},
	    {22,
	     -3,
	     PLATFORM,
	     [](camblock *b) {
		     return camblock_get_lens_distortion(b, 1200, 3000, 1, &k_out[0], &k_out[1], &k_out[2],
		                                         &k_out[3]);
	     },
	     {1200, 3000, 1, addr(&k_out[0]), addr(&k_out[1]), addr(&k_out[2]), addr(&k_out[3])},
	     EMPTY(get_lens_distortion)},
	    {23,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_set_focus_dioptres(b, 8192, 1); },
	     {8192, 1},
	     EMPTY(set_focus_dioptres)},
	    {25,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_set_motor_timing(b, 25, 2); },
	     {25, 2},
	     EMPTY(set_motor_timing)},
	    {26,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_set_motor_speed(b, 8192); },
	     {8192},
	     EMPTY(set_motor_speed)},
	    {27,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_frame_report(b, 3); },
	     {3},
	     EMPTY(frame_report)},
	    {28,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_poll(b, state); },
	     {addr(state)},
	     EMPTY(poll)},
	    {29,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_refresh(b, state); },
	     {addr(state)},
	     EMPTY(refresh)},
	    {30,
	     -3,
	     BLOCK_ONLY,
	     [](camblock *b) { return camblock_capture_mode_changed(b, 0x101); },
	     {0x101},
	     EMPTY(capture_mode_changed)},
	    {31,
	     0,
	     PLATFORM,
	     [](camblock *b) { return camblock_focal_length_at_distance_index(b, 1200, 512); },
	     {1200, 512},
	     EMPTY(focal_length_at_distance_index)},
	    {32,
	     -3,
	     PLATFORM,
	     [](camblock *b) {
		     return camblock_get_fov_at_distance_index(b, 1200, 512, &h_out, &v_out, 16384);
	     },
	     {1200, 512, h, v, 16384},
	     EMPTY(get_fov_at_distance_index)},
	    {33,
	     -3,
	     BLOCK_ONLY,
	     [](camblock *b) { return camblock_get_error_code(b); },
	     {},
	     EMPTY(get_error_code)},
	    {34, -3, BLOCK_ONLY, [](camblock *b) { return camblock_poll_init(b); }, {}, EMPTY(poll_init)},
	    {35,
	     -3,
	     BLOCK_ONLY,
	     [](camblock *b) { return camblock_handle_event(b, 77, event); },
	     {77, addr(event)},
	     EMPTY(handle_event)},
	    {36,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_get_depth_of_field(b); },
	     {},
	     EMPTY(get_depth_of_field)},
	    {37,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_get_depth_of_field_steps(b, 1200, 3000); },
	     {1200, 3000},
	     EMPTY(get_depth_of_field_steps)},
	    {38,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_get_temperature_pair(b, -327680, &first_out, &second_out); },
	     {-327680, addr(&first_out), addr(&second_out)},
	     EMPTY(get_temperature_pair)},
	    {39,
	     0,
	     PLATFORM,
	     [](camblock *b) { return camblock_get_focus_reg12(b, &out_value); },
	     {},
	     EMPTY(get_focus_reg12),
	     true},
	    {40,
	     0,
	     PLATFORM,
	     [](camblock *b) { return camblock_get_focus_reg17(b, &out_value); },
	     {},
	     EMPTY(get_focus_reg17),
	     true},
	    {41,
	     -3,
	     PLATFORM,
	     [](camblock *b) { return camblock_set_focus_reg17(b, -2); },
	     {-2},
	     EMPTY(set_focus_reg17)},
	};
}

class Dispatch : public ::testing::Test
{
      protected:
	platform *plat = static_cast<platform *>(g_malloc0(sizeof(platform)));
	camblock *block = camblock_new();
	void SetUp() override
	{
		fill_slots(block);
		calls.clear();
	}
	void TearDown() override
	{
		block->destroy = nullptr;
		camblock_destroy(block);
		g_free(plat);
	}
};

TEST_F(Dispatch, AMissingBlockAnswersTheMissingValue)
{
	for (const Row &r : rows())
		EXPECT_EQ(r.missing, r.call(nullptr)) << "slot " << r.slot;
}

TEST_F(Dispatch, WithoutAPlatformOnlyCaptureModeErrorCodePollInitAndEventsReachTheirSlot)
{
	for (const Row &r : rows()) {
		calls.clear();
		out_value = -99;
		int32_t got = r.call(block);
		if (r.check == BLOCK_ONLY) {
			EXPECT_EQ(1000 + r.slot, got) << "slot " << r.slot;
			EXPECT_EQ(1u, calls.size()) << "slot " << r.slot;
		} else {
			EXPECT_EQ(r.missing, got) << "slot " << r.slot;
			EXPECT_TRUE(calls.empty()) << "slot " << r.slot;
			EXPECT_EQ(-99, out_value) << "slot " << r.slot;
		}
	}
}

TEST_F(Dispatch, AnEmptySlotAnswersTheMissingValueAndTheOthersStaySilent)
{
	camblock_add_platform(block, plat);
	for (const Row &r : rows()) {
		camblock *b = camblock_new();
		fill_slots(b);
		camblock_add_platform(b, plat);
		r.empty(b);
		calls.clear();
		EXPECT_EQ(r.missing, r.call(b)) << "slot " << r.slot;
		EXPECT_TRUE(calls.empty()) << "slot " << r.slot;
		b->destroy = nullptr;
		camblock_destroy(b);
	}
}

TEST_F(Dispatch, EveryDispatcherPassesItsArgumentsAndTheSlotsAnswer)
{
	camblock_add_platform(block, plat);
	for (const Row &r : rows()) {
		calls.clear();
		out_value = -99;
		int32_t got = r.call(block);
		ASSERT_EQ(1u, calls.size()) << "slot " << r.slot;
		EXPECT_EQ((Call{r.slot, r.args}), calls[0]) << "slot " << r.slot;
		if (r.boolean) {
			EXPECT_EQ(1, got) << "slot " << r.slot;
			EXPECT_EQ(1000 + r.slot, out_value) << "slot " << r.slot;
		} else {
			EXPECT_EQ(1000 + r.slot, got) << "slot " << r.slot;
		}
	}
}

TEST_F(Dispatch, TheBooleanGettersTakeANullOutPointer)
{
	camblock_add_platform(block, plat);
	EXPECT_EQ(1, camblock_get_lens_temperature(block, nullptr));
	EXPECT_EQ(1, camblock_get_focus_reg12(block, nullptr));
	EXPECT_EQ(1, camblock_get_focus_reg17(block, nullptr));
}

TEST_F(Dispatch, AnEventNeedsItsRecord)
{
	camblock_add_platform(block, plat);
	EXPECT_EQ(-3, camblock_handle_event(block, 0, nullptr));
	EXPECT_TRUE(calls.empty());
}

TEST_F(Dispatch, TheTraceModeIsStoredEvenWhenTheSlotRefusesIt)
{
	camblock_add_platform(block, plat);
	block->set_trace_mode = [](camblock *, uint32_t m, int32_t, int32_t) { return m > 3 ? -4 : 0; };
	block->mcu.trace_mode = 1;
	EXPECT_EQ(-4, camblock_set_trace_mode(block, 7, 0, 0));
	EXPECT_EQ(7u, block->mcu.trace_mode);
	EXPECT_EQ(0, camblock_set_trace_mode(block, 2, 0, 0));
	EXPECT_EQ(2u, block->mcu.trace_mode);
}

TEST_F(Dispatch, AFixedLensBlockAnswersOnlyItsFieldOfViewAndFocalLength)
{
	camblock *cs = camblock_new();
	camblock_add_platform(cs, plat);
	cs->get_current_fov = [](camblock *, uint32_t *h, uint32_t *v, int32_t s) {
		return record(19, addr(h), addr(v), s);
	};
	cs->get_current_focal_length = [](camblock *) { return record(20); };
	cs->destroy = [](camblock *) { record(24); };
	for (const Row &r : rows()) {
		calls.clear();
		int32_t got = r.call(cs);
		if (r.slot == 19 || r.slot == 20) {
			EXPECT_EQ(1000 + r.slot, got);
		} else {
			EXPECT_EQ(r.missing, got) << "slot " << r.slot;
			EXPECT_TRUE(calls.empty()) << "slot " << r.slot;
		}
	}
	calls.clear();
	camblock_destroy(cs);
	EXPECT_EQ(std::vector<Call>{(Call{24, {}})}, calls);
}

TEST(Camblock, SettersStoreTheComponentsAndDestroyLeavesThemAlone)
{
	camblock *b = camblock_new();
	int parts[5];
	camblock_set_zoom(b, reinterpret_cast<zoom_object *>(&parts[0]));
	camblock_set_focus(b, reinterpret_cast<focus_object *>(&parts[1]));
	camblock_set_iris(b, reinterpret_cast<iris *>(&parts[2]));
	camblock_set_ircut(b, reinterpret_cast<ircut *>(&parts[3]));
	camblock_set_dome(b, reinterpret_cast<dome *>(&parts[4]));
	EXPECT_EQ((void *)&parts[0], b->zoom);
	EXPECT_EQ((void *)&parts[1], b->focus);
	EXPECT_EQ((void *)&parts[2], b->iris);
	EXPECT_EQ((void *)&parts[3], b->ircut);
	EXPECT_EQ((void *)&parts[4], b->dome);
	// The components are not the block's to free (the sanitizer build
	// would see a free of these stack words).
	camblock_destroy(b);
	camblock_set_zoom(nullptr, nullptr);
	camblock_add_platform(nullptr, nullptr);
}

} // namespace
