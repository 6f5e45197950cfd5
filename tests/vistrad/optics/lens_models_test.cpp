// The lens models against the simulated lens controller and the stand-in
// temperature service: what each model's create writes, publishes and
// registers, how a wrong lens is refused, the limits that follow the
// focus-infinity margin, the motor-timing variants as register tables, the
// update of the aperture, and the generated trace curves.

#include <gtest/gtest.h>
#include <simsoc_lens_mcu.h>

#include "../main_loop_pump.h"
#include "../temperature_service.h"
#include "core/param_map.h"
#include "optics/camblock.h"
#include "optics/camblock_mcu.h"
#include "optics/camblock_trace.h"
#include "optics/focus_zoom.h"
#include "optics/iris.h"
#include "optics/lens_models/lens_models.h"
#include "optics/lens_models/lens_tables.h"
#include "optics_fixture.h"

namespace
{

#define PARAM_CAMBLOCK_ERROR 104
#define PARAM_CAMBLOCK_TYPE 159
#define PARAM_FOCUS_TEMPERATURE_CORRECTION 178

using create_fn = void *(*)(struct prodconf *, struct control *, int32_t);

class LensModelTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		ASSERT_EQ(0, param_map_init());
		OpticsTest::SetUp();
		simsoc_lens_mcu_reset();
	}
	void TearDown() override
	{
		OpticsTest::TearDown();
		param_map_free();
		simsoc_lens_mcu_reset();
		service_.stop();
	}
	std::string writes(simsoc_lens_mcu *mcu)
	{
		return take_text(simsoc_lens_mcu_writes(mcu));
	}
	static void deliver()
	{
		while (param_changes_pending())
			param_distribute_callback_one_change();
	}
	int32_t param(uint32_t id, int32_t stream_id)
	{
		int32_t v = -100;
		if (param_get_int(id, stream_id, &v) != 0)
			return -100;
		return v;
	}

      public:
	prodconf *conf()
	{
		return conf_;
	}
	control *engine()
	{
		return engine_;
	}

      protected:
	TemperatureService service_;
};

// The models, their lens ids (-1: none to answer), whether they need a
// settings section to be made, their controller's bus, what their check
// writes, whether it publishes CamBlockType and CamBlockError, their
// guard (sensor, start, stop; sensor -1: none) and their first trace mode.
struct ModelCase {
	const char *module;
	create_fn create;
	int id;
	bool needs_section;
	unsigned bus;
	const char *check_writes;
	bool type;
	bool error;
	int sensor, start, stop;
	uint32_t trace_mode;
	bool ircut;
};

const char *const common_writes = "0x105=67\n0x205=67\n";
const char *const df031n_writes = "0x105=67\n0x1005=67\n0x205=67\n0x30b=64\n";

const ModelCase model_cases[] = {
    {"camblock_tamron_df010nl", prodconf_camblock_tamron_df010nl_create, 0, false, 1, common_writes, true,
     true, -1, 0, 0, 1, true},
    {"camblock_tamron_df020nl", prodconf_camblock_tamron_df020nl_create, 2, true, 1, common_writes, true,
     true, 2, -17, -24, 1, true},
    {"camblock_tamron_df024nl", prodconf_camblock_tamron_df024nl_create, 6, true, 1, common_writes, true,
     true, 2, -17, -24, 1, true},
    {"camblock_tamron_de011n", prodconf_camblock_tamron_de011n_create, -1, false, 1, "", true, true, 2, -12,
     -17, 1, true},
    {"camblock_tamron_df031n", prodconf_camblock_tamron_df031n_create, 8, true, 1, df031n_writes, true, false,
     1, -30, -32, 1, true},
    {"camblock_tamron_df023q", prodconf_camblock_tamron_df023q_create, 4, false, 4, "", true, false, 1, -22,
     -27, 1, true},
    {"camblock_cbc_r18", prodconf_camblock_cbc_r18_create, 11, false, 4, "", true, false, 0, -7, -12, 1,
     true},
    {"camblock_ricom_af02812db_icr", prodconf_camblock_ricom_af02812db_icr_create, -1, false, 1, "", true,
     true, 2, -15, -19, 1, true},
    {"camblock_canon_c40x43", prodconf_camblock_canon_c40x43_create, 14, false, 1,
     "0x20b=0\n0x10b=0\n0x100b=0\n", true, false, 1, -30, -32, 3, true},
    {"camblock_canon_c50x1485", prodconf_camblock_canon_c50x1485_create, 22, true, 1, "", true, false, 1, -28,
     -30, 1, false},
    {"camblock_cbc_tsf2_9z2813bhrw_f5", prodconf_camblock_cbc_tsf2_9z2813bhrw_f5_create, -1, false, 1, "",
     true, true, 2, -27, -30, 1, true},
    {"camblock_tamron_df034n", prodconf_camblock_tamron_df034n_create, 16, true, 1,
     "0x105=67\n0x1005=67\n0x205=67\n0x30b=96\n", true, false, 1, -30, -32, 1, true},
    {"camblock_unionoptech_t5285", prodconf_camblock_unionoptech_t5285_create, 10, true, 1, common_writes,
     false, true, -1, 0, 0, 1, true},
    {"camblock_unionoptech_t5377q", prodconf_camblock_unionoptech_t5377q_create, 17, true, 1,
     "0x105=67\n0x205=67\n0x30d=1\n0xe01=1\n0x306=1610\n", true, false, 1, -27, -29, 1, true},
    {"camblock_unionoptech_t5390", prodconf_camblock_unionoptech_t5390_create, 25, true, 1, common_writes,
     true, false, 1, -27, -29, 1, true},
    {"camblock_evetar_e5350a", prodconf_camblock_evetar_e5350a_create, -1, false, 1, "", true, true, 3, -35,
     -40, 1, true},
    {"camblock_ytot_yt50011db_icr", prodconf_camblock_ytot_yt50011db_icr_create, -1, false, 1, "", true, true,
     3, -30, -31, 1, true},
    {"camblock_cbc_nsf2_3z5915bmrw_f5", prodconf_camblock_cbc_nsf2_3z5915bmrw_f5_create, -1, false, 1, "",
     true, true, 2, -27, -30, 1, true},
};

class EveryModel : public LensModelTest, public ::testing::WithParamInterface<ModelCase>
{
};

TEST_P(EveryModel, ItsLensGivesABlockWithItsCheckPublicationsAndGuard)
{
	const ModelCase &c = GetParam();
	service_.start(7, 25.0);
	simsoc_lens_mcu *mcu = simsoc_lens_mcu_add(c.bus, 0x43);
	simsoc_lens_mcu_set(mcu, 0x00C, c.id < 0 ? 99 : (uint16_t)c.id);
	simsoc_lens_mcu_set(mcu, 0x002, 5);
	if (c.needs_section)
		section(c.module, {});
	ASSERT_EQ(0, param_set_int(PARAM_FOCUS_TEMPERATURE_CORRECTION, 0, 0));
	auto *block = static_cast<camblock *>(c.create(conf_, engine_, 0));
	ASSERT_NE(nullptr, block) << log_.text(DEBUG_ERROR);
	EXPECT_EQ(block, platform_get_camblock(plat_, 0));
	EXPECT_EQ(c.check_writes, writes(mcu));
	EXPECT_EQ(c.type ? 1 : -100, param(PARAM_CAMBLOCK_TYPE, 0));
	EXPECT_EQ(c.error ? 5 : -100, param(PARAM_CAMBLOCK_ERROR, 0));
	EXPECT_EQ(c.trace_mode, block->mcu.trace_mode);
	EXPECT_EQ(c.ircut, block->ircut != nullptr);
	EXPECT_NE(nullptr, block->iris);
	EXPECT_EQ(block->iris, platform_get_iris(plat_, 0));
	EXPECT_EQ(block->zoom, platform_get_zoom(plat_, 0));
	EXPECT_EQ(block->focus, platform_get_focus(plat_, 0));
	std::vector<TemperatureRegistration> r = service_.registration_list();
	if (c.sensor < 0) {
		EXPECT_TRUE(r.empty());
	} else {
		ASSERT_EQ(2u, r.size());
		EXPECT_EQ(c.sensor, r[0].sensor);
		EXPECT_EQ(c.start, r[0].limit);
		EXPECT_TRUE(r[0].below);
		EXPECT_EQ(c.stop, r[1].limit);
		EXPECT_FALSE(r[1].below);
	}
	// Models that go on without settings leave only the reader's note; the
	// DF010NL has no settings to read.
	const bool reads = !c.needs_section && c.create != prodconf_camblock_tamron_df010nl_create;
	EXPECT_EQ(reads ? "Prodconf: unknown item " + std::string(c.module) + "\n" : "",
	          log_.text(DEBUG_ERROR));
}

INSTANTIATE_TEST_SUITE_P(LensModels, EveryModel, ::testing::ValuesIn(model_cases),
                         [](const ::testing::TestParamInfo<ModelCase> &info) {
	                         return std::string(info.param.module + strlen("camblock_"));
                         });

// The generated trace curves of every model rise with the curve number at
// every zoom position and curve set, so that the inverse search finds each
// curve back.
TEST(LensTables, EveryModelsCurvesRiseWithTheCurveNumber)
{
	const lens_tables *all[] = {
	    &lens_tables_tamron_df010nl,
	    &lens_tables_tamron_df020nl,
	    &lens_tables_tamron_df024nl,
	    &lens_tables_tamron_de011n,
	    &lens_tables_tamron_df031n,
	    &lens_tables_tamron_df023q,
	    &lens_tables_cbc_r18,
	    &lens_tables_ricom_af02812db_icr,
	    &lens_tables_canon_c40x43,
	    &lens_tables_canon_c50x1485,
	    &lens_tables_cbc_tsf2_9z2813bhrw_f5,
	    &lens_tables_tamron_df034n,
	    &lens_tables_unionoptech_t5285,
	    &lens_tables_unionoptech_t5377q,
	    &lens_tables_unionoptech_t5390,
	    &lens_tables_evetar_e5350a,
	    &lens_tables_ytot_yt50011db_icr,
	    &lens_tables_cbc_nsf2_3z5915bmrw_f5,
	};
	for (const lens_tables *t : all) {
		camblock_trace *trace = camblock_trace_new(&t->trace);
		ASSERT_NE(nullptr, trace);
		const int32_t last = 4 * (t->trace.word_count - 1);
		EXPECT_EQ(last, t->zoom_positions[t->zoom_count - 1]);
		for (int32_t set = 0; set < t->trace.set_count; set++) {
			for (int32_t zoom : {0, 1, last / 3, last / 2 + 3, last}) {
				SCOPED_TRACE(testing::Message()
				             << "words " << t->trace.word_count << " zoom " << zoom);
				uint32_t before = 0;
				for (int32_t curve = 0; curve < t->trace.curve_count; curve++) {
					uint32_t p =
					    camblock_trace_focus_position(trace, zoom, curve << 9, set, 0);
					if (curve > 0) {
						EXPECT_GT(p, before) << "curve " << curve;
					}
					EXPECT_EQ(curve << 9, camblock_trace_distance_index(trace, zoom,
					                                                    (int32_t)p, set));
					before = p;
				}
			}
		}
		for (int32_t z = 1; z < t->zoom_count; z++) {
			EXPECT_GT(t->magnifications[z], t->magnifications[z - 1]);
			EXPECT_LT(t->focal_model[z], t->focal_model[z - 1]);
		}
		camblock_trace_free(trace);
	}
}

TEST_F(LensModelTest, AWrongLensLeavesNothingBehindAndTheOldSwitchBack)
{
	auto *previous = plat_->daynight_switch;
	simsoc_lens_mcu *mcu = simsoc_lens_mcu_add(1, 0x43);
	simsoc_lens_mcu_set(mcu, 0x00C, 4);
	section("camblock_tamron_df024nl", {});
	EXPECT_EQ(nullptr, prodconf_camblock_tamron_df024nl_create(conf_, engine_, 0));
	EXPECT_EQ("Failed to open camblock i2c device or wrong optics attached\n"
	          "Failed to set up camblock tamron df024nl\n",
	          log_.text(DEBUG_ERROR));
	EXPECT_EQ(nullptr, platform_get_camblock(plat_, 0));
	EXPECT_EQ(nullptr, platform_get_iris(plat_, 0));
	EXPECT_EQ(nullptr, platform_get_zoom(plat_, 0));
	EXPECT_EQ(nullptr, platform_get_focus(plat_, 0));
	EXPECT_EQ(nullptr, platform_get_ircut(plat_, 0));
	EXPECT_EQ(previous, plat_->daynight_switch);
	EXPECT_EQ("", writes(mcu));
}

TEST_F(LensModelTest, TheDf010nlKeepsItsBlockWhateverTheLensAnswers)
{
	simsoc_lens_mcu *mcu = simsoc_lens_mcu_add(1, 0x43);
	simsoc_lens_mcu_set(mcu, 0x00C, 4);
	auto *block = static_cast<camblock *>(prodconf_camblock_tamron_df010nl_create(conf_, engine_, 1));
	ASSERT_NE(nullptr, block);
	EXPECT_EQ(0, block->stream_id);
	EXPECT_EQ(block, platform_get_camblock(plat_, 0));
	EXPECT_EQ("Failed to open camblock i2c device or wrong optics attached\n", log_.text(DEBUG_ERROR));
}

TEST_F(LensModelTest, ModelsThatGiveUpWithoutSettingsMakeNothing)
{
	simsoc_lens_mcu *mcu = simsoc_lens_mcu_add(1, 0x43);
	simsoc_lens_mcu_set(mcu, 0x00C, 6);
	EXPECT_EQ(nullptr, prodconf_camblock_tamron_df024nl_create(conf_, engine_, 0));
	EXPECT_EQ("Prodconf: unknown item camblock_tamron_df024nl\nFailed to read prodconf from file\n",
	          log_.text(DEBUG_ERROR));
	EXPECT_EQ(nullptr, platform_get_camblock(plat_, 0));
	EXPECT_EQ(0u, simsoc_lens_mcu_reads(mcu, 0x00C));
}

TEST_F(LensModelTest, TheDf023qWithoutSettingsUsesTheFourthBusAndSensorOne)
{
	service_.start(7, 25.0);
	simsoc_lens_mcu *mcu = simsoc_lens_mcu_add(4, 0x43);
	simsoc_lens_mcu_set(mcu, 0x00C, 4);
	auto *block = static_cast<camblock *>(prodconf_camblock_tamron_df023q_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, block);
	EXPECT_STREQ("/dev/i2c-4", block->mcu.device->path);
	EXPECT_EQ(0x43, block->mcu.address);
	EXPECT_EQ(1u, simsoc_lens_mcu_reads(mcu, 0x00C));
	std::vector<TemperatureRegistration> r = service_.registration_list();
	ASSERT_EQ(2u, r.size());
	EXPECT_EQ(1, r[0].sensor);
	// The three slots this lens does without.
	EXPECT_EQ(nullptr, block->get_lens_distortion);
	EXPECT_EQ(nullptr, block->frame_report);
	EXPECT_EQ(nullptr, block->capture_mode_changed);
}

TEST_F(LensModelTest, TheFocusInfinityMarginSetsTheFarLimitAndIndexAndP)
{
	const struct {
		const char *margin;
		int32_t far_limit, min_index, p;
	} cases[] = {{"16", -3280, -1024, 1640}, {"0", 0, 0, 0}, {"8", -1640, -512, 1640}};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.margin);
		simsoc_lens_mcu_reset();
		simsoc_lens_mcu *mcu = simsoc_lens_mcu_add(1, 0x43);
		simsoc_lens_mcu_set(mcu, 0x00C, 8);
		prodconf_node *s =
		    section("camblock_tamron_df031n", {{"tamron_df031n_focus_inf_margin", c.margin},
		                                       {"tamron_df031n_temp_sensor", "-1"}});
		auto *block =
		    static_cast<camblock *>(prodconf_camblock_tamron_df031n_create(conf_, engine_, 0));
		ASSERT_NE(nullptr, block);
		EXPECT_EQ(c.far_limit, block->mcu.far_limit);
		EXPECT_EQ(c.min_index, block->mcu.min_index);
		EXPECT_EQ(c.min_index, block->mcu.far_index);
		EXPECT_EQ(3072, block->mcu.max_index);
		EXPECT_EQ(16384, block->mcu.near_limit);
		EXPECT_EQ(c.p, block->mcu.trace->dioptres_per_curve);
		// A negative temperature sensor makes no guard.
		EXPECT_EQ(nullptr, block->temperature_guard);
		platform_remove_all_camblock(plat_, 0);
		(void)s;
		prodconf_free(conf_);
		conf_ = prodconf_new();
	}
}

TEST_F(LensModelTest, TheCanonC40x43WritesItsFocusCorrectionNowAndOnEveryChange)
{
	service_.start(7, 25.0);
	simsoc_lens_mcu *mcu = simsoc_lens_mcu_add(1, 0x43);
	simsoc_lens_mcu_set(mcu, 0x00C, 14);
	// Not set yet: the registers get 0.
	auto *block = static_cast<camblock *>(prodconf_camblock_canon_c40x43_create(conf_, engine_, 0));
	ASSERT_NE(nullptr, block);
	EXPECT_EQ("0x20b=0\n0x10b=0\n0x100b=0\n", writes(mcu));
	EXPECT_EQ("Prodconf: unknown item camblock_canon_c40x43\n"
	          "prodconf_camblock_canon_c40x43_create: Could not read temp comp param!\n",
	          log_.text(DEBUG_ERROR));
	simsoc_lens_mcu_clear_writes(mcu);
	ASSERT_EQ(0, param_set_int(PARAM_FOCUS_TEMPERATURE_CORRECTION, 0, 1));
	deliver();
	EXPECT_EQ("0x20b=1\n0x10b=1\n0x100b=1\n", writes(mcu));
	// Gone with the block.
	platform_remove_all_camblock(plat_, 0);
	simsoc_lens_mcu_clear_writes(mcu);
	ASSERT_EQ(0, param_set_int(PARAM_FOCUS_TEMPERATURE_CORRECTION, 0, 0));
	deliver();
	EXPECT_EQ("", writes(mcu));
}

// A model's block on a fresh controller that answers its id.
camblock *make_model(LensModelTest &t, simsoc_lens_mcu **mcu, create_fn create, const char *module,
                     uint16_t id)
{
	simsoc_lens_mcu_reset();
	*mcu = simsoc_lens_mcu_add(1, 0x43);
	simsoc_lens_mcu_set(*mcu, 0x00C, id);
	(void)t;
	auto *block = static_cast<camblock *>(create(t.conf(), t.engine(), 0));
	if (block)
		simsoc_lens_mcu_clear_writes(*mcu);
	(void)module;
	return block;
}

TEST_F(LensModelTest, MotorTimingVariantsAsRegisterTables)
{
	const struct {
		create_fn create;
		const char *module;
		uint16_t id;
		int32_t speed, frame_rate, sync;
		const char *writes;
	} cases[] = {
	    // T2: the frame-rate register from 60 unclamped, 64 while synchronised.
	    {prodconf_camblock_tamron_df031n_create, "camblock_tamron_df031n", 8, 16384, 30, 0,
	     "0x103=128\n0x104=30\n0xe00=0\n0x304=48\n"},
	    {prodconf_camblock_tamron_df031n_create, "camblock_tamron_df031n", 8, 16384, 60, 2,
	     "0x103=128\n0x104=0\n0xe00=1\n0xe01=2\n0x304=64\n"},
	    // T3: 0x304 and 0x30B from their tables, or 64 and 96 while synchronised.
	    {prodconf_camblock_tamron_df034n_create, "camblock_tamron_df034n", 16, 16384, 25, 0,
	     "0x103=107\n0x104=35\n0xe00=0\n0x304=56\n0x30b=104\n"},
	    {prodconf_camblock_tamron_df034n_create, "camblock_tamron_df034n", 16, 16384, 30, 3,
	     "0x103=128\n0x104=30\n0xe00=1\n0xe01=3\n0x304=64\n0x30b=96\n"},
	    {prodconf_camblock_unionoptech_t5390_create, "camblock_unionoptech_t5390", 25, 16384, 30, 3,
	     "0x103=128\n0x104=30\n0xe00=1\n0xe01=1\n0x304=64\n0x30b=96\n"},
	    // T4: the speed alone, rounded half up to 0..128.
	    {prodconf_camblock_canon_c40x43_create, "camblock_canon_c40x43", 14, 8256, 30, 2, "0x103=65\n"},
	    // T5: computed from the frame rate; a zero frame rate makes every quotient 0.
	    {prodconf_camblock_unionoptech_t5377q_create, "camblock_unionoptech_t5377q", 17, 16384, 30, 0,
	     "0x103=65\n0x104=10\n0x304=2\n0x30b=48\n0xe00=0\n"},
	    {prodconf_camblock_unionoptech_t5377q_create, "camblock_unionoptech_t5377q", 17, 16384, 60, 2,
	     "0x103=32\n0x104=5\n0x304=96\n0x30b=40\n0xe00=1\n"},
	    {prodconf_camblock_unionoptech_t5377q_create, "camblock_unionoptech_t5377q", 17, 16384, 0, 0,
	     "0x103=0\n0x104=0\n0x304=65535\n0x30b=48\n0xe00=0\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message()
		             << c.module << " " << c.frame_rate << " fps, sync " << c.sync);
		section(c.module, {{std::string(c.module + strlen("camblock_")) + "_temp_sensor", "-1"}});
		simsoc_lens_mcu *mcu = nullptr;
		camblock *block = make_model(*this, &mcu, c.create, c.module, c.id);
		ASSERT_NE(nullptr, block);
		block->zoom->speed = c.speed;
		EXPECT_EQ(0, camblock_set_motor_timing(block, c.frame_rate, c.sync));
		EXPECT_EQ(c.writes, writes(mcu));
		platform_remove_all_camblock(plat_, 0);
		platform_remove_all_iris(plat_, 0);
		platform_remove_all_zoom(plat_, 0);
		platform_remove_all_focus(plat_, 0);
		platform_remove_all_ircut(plat_, 0);
		prodconf_free(conf_);
		conf_ = prodconf_new();
	}
}

TEST_F(LensModelTest, TheApertureRisesTowardsTeleByRampOrTable)
{
	service_.start(7, 25.0);
	section("camblock_tamron_df024nl", {});
	simsoc_lens_mcu *mcu = nullptr;
	camblock *block = make_model(*this, &mcu, prodconf_camblock_tamron_df024nl_create, "", 6);
	ASSERT_NE(nullptr, block);
	zoom_object *z = block->zoom;
	iris *i = block->iris;
	const lens_tables &t = lens_tables_tamron_df024nl;
	const int32_t first = t.zoom_positions[0], last = t.zoom_positions[t.zoom_count - 1];
	for (int32_t at : {std::max(first, z->mech_min), (first + last) / 2, std::min(last, z->mech_max)}) {
		SCOPED_TRACE(at);
		z->position = at;
		ASSERT_EQ(0, block->update_aperture(block));
		double ramp = 0.9 * 16384 * (at - first) / (last - first);
		EXPECT_NEAR(t.apertures[0] + ramp, i->F_table[0], 1.0);
		EXPECT_NEAR(t.apertures[100] + ramp, i->F_table[100], 1.0);
		EXPECT_EQ(i->F_table[0], i->open_F);
	}
	// The model's table itself never changes.
	EXPECT_EQ(t.apertures[0], block->mcu.apertures[0]);
	z->position = z->mech_max + 1;
	EXPECT_EQ(-2, block->update_aperture(block));
	z->position = z->mech_min - 1;
	EXPECT_EQ(-2, block->update_aperture(block));

	platform_remove_all_camblock(plat_, 0);
	platform_remove_all_iris(plat_, 0);
	section("camblock_tamron_df031n", {{"tamron_df031n_temp_sensor", "-1"}});
	block = make_model(*this, &mcu, prodconf_camblock_tamron_df031n_create, "", 8);
	ASSERT_NE(nullptr, block);
	const lens_tables &u = lens_tables_tamron_df031n;
	int looked = 0;
	for (int k : {0, u.zoom_count / 2, u.zoom_count - 1}) {
		if (u.zoom_positions[k] < block->zoom->mech_min ||
		    u.zoom_positions[k] > block->zoom->mech_max)
			continue;
		SCOPED_TRACE(k);
		block->zoom->position = u.zoom_positions[k];
		ASSERT_EQ(0, block->update_aperture(block));
		EXPECT_EQ(u.apertures[0] + u.aperture_offsets[k], block->iris->F_table[0]);
		looked++;
	}
	EXPECT_GE(looked, 2);
}

} // namespace
