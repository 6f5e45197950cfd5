// The hall-sensor iris over the lens controller: the mapping of positions
// onto the drive scale, the commanded, read-back and reported variants, the
// hall calibration, and each lens's iris.

#include <gtest/gtest.h>

#include "lens_mcu_fixture.h"
#include "optics/iris.h"
#include "optics/iris_hall.h"

namespace
{

const int32_t ONE = 16384;

class HallIrisTest : public LensMcuTest
{
      protected:
	void SetUp() override
	{
		LensMcuTest::SetUp();
		for (int i = 0; i < 256; i++)
			f_numbers_[i] = (int32_t)((1.4 + 14.6 * i / 255) * ONE);
	}
	iris *make(camblock_lens lens, int read_back = 0, int32_t n = 256)
	{
		iris *ir = iris_hall_new(block_, lens, f_numbers_, n, read_back);
		if (ir)
			control_add_iris(engine_, ir, 0);
		return ir;
	}
	int32_t f_numbers_[256];
};

TEST_F(HallIrisTest, PositionsMapOntoTheDriveScaleOpenAtTheTop)
{
	iris *ir = make(CAMBLOCK_LENS_TAMRON_DF010NL);
	const struct {
		const char *call;
		int32_t argument;
		const char *writes;
		int32_t position;
		uint32_t direction;
	} steps[] = {
	    {"to", 0, "0x400=1023\n", 0, 1},
	    {"to", 255, "0x400=0\n", 255, 1},
	    {"to", 128, "0x400=509\n", 128, 0}, // 1023 - (1023 x 128 + 127) / 255
	    {"to", 128, "", 128, 0},
	    {"to", 999, "0x400=0\n", 255, 1},
	    {"to", -5, "0x400=1023\n", 0, 0},
	    {"up", 10, "0x400=983\n", 10, 1},
	    {"down", 20, "0x400=1023\n", 0, 0},
	    {"down", 1, "", 0, 0},
	    {"up", 300, "0x400=0\n", 255, 1},
	    {"home", 0, "0x400=1023\n", 0, 1},
	};
	for (auto &s : steps) {
		int result;
		if (!strcmp(s.call, "to"))
			result = iris_move_to(ir, s.argument);
		else if (!strcmp(s.call, "home"))
			result = iris_go_home(ir);
		else
			result = iris_move_rel(ir, !strcmp(s.call, "up") ? 1 : 0, s.argument, 0);
		EXPECT_EQ(-1, result) << s.call << " " << s.argument;
		EXPECT_EQ(s.writes, take_writes()) << s.call << " " << s.argument;
		EXPECT_EQ(s.position, iris_get_position(ir)) << s.call << " " << s.argument;
		EXPECT_EQ(s.direction, ir->last_direction) << s.call << " " << s.argument;
	}
	EXPECT_EQ(0, iris_is_moving(ir));
	// A lens-specific scale: DF023Q's 0..67.
	iris *small = make(CAMBLOCK_LENS_TAMRON_DF023Q);
	EXPECT_EQ(-1, iris_move_to(small, 128));
	EXPECT_EQ("0x400=33\n", take_writes());
}

TEST_F(HallIrisTest, TheReadBackVariantCorrectsADriftedIrisEveryThirtyCalls)
{
	iris *ir = make(CAMBLOCK_LENS_TAMRON_DF020NL, 1);
	iris_move_to(ir, 128);
	take_writes();
	for (int call = 1; call <= 61; call++) {
		EXPECT_EQ(128, iris_get_position(ir)) << call;
		unsigned reads = simsoc_lens_mcu_reads(mcu_, 0x400);
		EXPECT_EQ(call < 31 ? 1u : call < 61 ? 2u : 3u, reads) << call;
	}
	EXPECT_EQ("", take_writes()); // it stayed where it was sent
	// Drifted: the measured position stands for a moment, then the target
	// is sent again.
	simsoc_lens_mcu_set_iris_drift(mcu_, 100);
	for (int call = 62; call <= 91; call++)
		iris_get_position(ir);
	EXPECT_EQ("0x400=509\n", take_writes());
	EXPECT_EQ(128, ir->position);
	// The scale's top and anything above it are fully open.
	simsoc_lens_mcu_set_iris_drift(mcu_, 0);
	for (uint16_t value : {(uint16_t)1023, (uint16_t)2000}) {
		simsoc_lens_mcu_set(mcu_, 0x400, value);
		static_cast<iris_hall_scale *>(ir->priv)->poll_counter = 0;
		iris_get_position(ir);
		EXPECT_EQ("0x400=509\n", take_writes()) << value; // measured 0, sent back to 128
	}
	// Without the flag, the same lens only remembers what it sent.
	iris *plain = make(CAMBLOCK_LENS_TAMRON_DF020NL);
	iris_move_to(plain, 10);
	unsigned before = simsoc_lens_mcu_reads(mcu_, 0x400);
	EXPECT_EQ(10, iris_get_position(plain));
	EXPECT_EQ(before, simsoc_lens_mcu_reads(mcu_, 0x400));
}

TEST_F(HallIrisTest, TheReportedVariantKeepsTheLensReportApart)
{
	iris *ir = make(CAMBLOCK_LENS_TAMRON_DF031N);
	// Moving while the controller initialises, and until the lens reports.
	EXPECT_EQ(1, iris_is_moving(ir));
	block_->mcu.initialised = 1;
	EXPECT_EQ(1, iris_is_moving(ir));
	iris_hall_report(ir, 509);
	add_units(CAMBLOCK_LENS_TAMRON_DF031N);
	EXPECT_EQ(0, iris_is_moving(ir));
	zoom_->pending = 1; // the iris moves with the zoom
	EXPECT_EQ(1, iris_is_moving(ir));
	zoom_->pending = 0;
	iris_move_to(ir, 40);
	EXPECT_EQ(1, iris_is_moving(ir));
	iris_hall_report(ir, 0);
	EXPECT_EQ(0, iris_is_moving(ir));
	// Even a move to where it is counts as a command.
	iris_move_to(ir, 40);
	EXPECT_EQ(1, iris_is_moving(ir));

	EXPECT_EQ(40, iris_get_position(ir)); // no calibration: what was sent
	int32_t *values = g_new(int32_t, 256);
	for (int i = 0; i < 256; i++)
		values[i] = i == 255 ? 0 : 1023 - 4 * i;
	iris_set_calibration(ir, values);
	iris_hall_report(ir, 509);
	EXPECT_EQ(128, iris_get_position(ir)); // the lens's report, read on its scale
	EXPECT_EQ(40, ir->position);

	// The T5377Q reports positions; the commanded variants keep nothing.
	iris *positions = make(CAMBLOCK_LENS_UNIONOPTECH_T5377Q);
	iris_hall_report(positions, 77);
	EXPECT_EQ(77, static_cast<iris_hall_scale *>(positions->priv)->reported_position);
	iris *commanded = make(CAMBLOCK_LENS_TAMRON_DF024NL);
	iris_hall_report(commanded, 77);
	EXPECT_EQ(0, static_cast<iris_hall_scale *>(commanded->priv)->reported_position);
}

TEST_F(HallIrisTest, CalibrationInstallsTheSensorsScaleAndRestoreTheDefault)
{
	iris *ir = make(CAMBLOCK_LENS_TAMRON_DF010NL);
	EXPECT_EQ(0, iris_hall_calibrated(ir));
	int32_t *values = g_new(int32_t, 256);
	for (int i = 0; i < 256; i++)
		values[i] = 900 - i * 800 / 255;
	iris_set_calibration(ir, values);
	EXPECT_EQ("0x408=100\n0x409=900\n", take_writes());
	EXPECT_EQ(1, iris_hall_calibrated(ir));
	iris_move_to(ir, 0);
	EXPECT_EQ("0x400=900\n", take_writes());

	// Inverted readings: the default scale, still calibrated.
	values = g_new(int32_t, 256);
	for (int i = 0; i < 256; i++)
		values[i] = 100 + i;
	iris_set_calibration(ir, values);
	EXPECT_EQ("Improper hall iris iris calibration values.\n", log_.text(DEBUG_ERROR));
	EXPECT_EQ("0x408=0\n0x409=1023\n", take_writes());
	EXPECT_EQ(1, iris_hall_calibrated(ir));

	values = g_new(int32_t, 256);
	for (int i = 0; i < 256; i++)
		values[i] = 800 - i;
	iris_set_calibration(ir, values);
	take_writes();
	// Restore brings back both ends of the default scale.
	iris_restore(ir);
	EXPECT_EQ("0x408=0\n0x409=0\n", take_writes());
	EXPECT_EQ(0, iris_hall_calibrated(ir));
	iris_move_to(ir, 255);
	iris_move_to(ir, 0);
	EXPECT_EQ("0x400=0\n0x400=1023\n", take_writes());

	simsoc_lens_mcu_set(mcu_, 0x403, 612);
	EXPECT_EQ(612, iris_read_sensor(ir));
}

TEST_F(HallIrisTest, EachLensHasItsIris)
{
	const int32_t table_best[] = {0, 131, 132, 0, 94, 93, 0, 131, 0, 0, 40, 0, 128, 0, 93, 28, 128, 128};
	const struct {
		camblock_lens lens;
		uint32_t type;
		int32_t top; // drive value of position 0
		bool calibration;
		int32_t description[4]; // 0: none
	} cases[] = {
	    {CAMBLOCK_LENS_TAMRON_DF010NL, 4, 1023, true, {0}},
	    {CAMBLOCK_LENS_TAMRON_DF024NL, 4, 1023, true, {-1, -1, 8 * ONE, 16 * ONE}},
	    {CAMBLOCK_LENS_TAMRON_DF020NL, 4, 1023, true, {-1, -1, 9 * ONE, 18 * ONE}},
	    {CAMBLOCK_LENS_TAMRON_DF023Q, 5, 67, false, {ONE, 2 * ONE, 6 * ONE, 11 * ONE}},
	    {CAMBLOCK_LENS_TAMRON_DE011N, 4, 1023, true, {-1, -1, 8 * ONE, 16 * ONE}},
	    {CAMBLOCK_LENS_TAMRON_DF031N, 4, 1023, true, {-1, -1, 8 * ONE, 16 * ONE}},
	    {CAMBLOCK_LENS_CBC_R18, 5, 70, false, {ONE, 2 * ONE, 4 * ONE, 11 * ONE}},
	    {CAMBLOCK_LENS_RICOM_AF02812DB_ICR, 4, 1023, true, {-1, -1, 8 * ONE, 16 * ONE}},
	    {CAMBLOCK_LENS_CANON_C40X43, 5, 512, false, {0}},
	    {CAMBLOCK_LENS_CBC_TSF2_9Z2813BHRW_F5, 5, 65, true, {0}},
	    {CAMBLOCK_LENS_TAMRON_DF034N, 4, 1023, true, {0}},
	    {CAMBLOCK_LENS_EVETAR_E5350A, 4, 1023, true, {-1, -1, 8 * ONE, 16 * ONE}},
	    {CAMBLOCK_LENS_UNIONOPTECH_T5285, 4, 1023, true, {0}},
	    {CAMBLOCK_LENS_UNIONOPTECH_T5377Q, 5, 852, false, {-1, -1, 8 * ONE, 16 * ONE}},
	    {CAMBLOCK_LENS_UNIONOPTECH_T5390, 4, 1023, true, {-1, -1, 5 * ONE, 11 * ONE}},
	    {CAMBLOCK_LENS_YTOT_YT50011DB_ICR, 4, 1023, true, {-1, -1, 8 * ONE, 16 * ONE}},
	    {CAMBLOCK_LENS_CBC_NSF2_3Z5915BMRW_F5, 4, 1023, true, {-1, -1, 8 * ONE, 16 * ONE}},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.lens);
		iris *ir = make(c.lens);
		ASSERT_NE(nullptr, ir);
		EXPECT_EQ(c.type, ir->type);
		EXPECT_EQ(block_, ir->owner);
		EXPECT_EQ(table_best[c.lens], ir->best_position);
		EXPECT_EQ(255, ir->max_position);
		EXPECT_EQ(0, ir->min_position);
		EXPECT_EQ(256, ir->table_length);
		EXPECT_EQ(f_numbers_, ir->F_table);
		EXPECT_EQ(f_numbers_, ir->aperture_table);
		EXPECT_EQ(f_numbers_[0], ir->open_F);
		EXPECT_EQ(IRIS_POSITION_UNKNOWN, ir->position);
		EXPECT_EQ(1u, ir->reset_needed);
		EXPECT_EQ(1, ir->automatic);
		EXPECT_EQ(c.calibration, ir->set_calibration != nullptr);
		EXPECT_EQ(c.calibration, ir->hall_calibrated != nullptr);
		EXPECT_NE(nullptr, ir->read_sensor);
		EXPECT_NE(nullptr, ir->restore);
		EXPECT_EQ(c.description[0] != 0, ir->aperture_description_set);
		if (c.description[0]) {
			int32_t open = c.description[0] < 0 ? f_numbers_[0] : c.description[0];
			int32_t best =
			    c.description[1] < 0 ? f_numbers_[ir->best_position] : c.description[1];
			EXPECT_EQ(open, ir->aperture_description[0]);
			EXPECT_EQ(best, ir->aperture_description[1]);
			EXPECT_EQ(c.description[2], ir->aperture_description[2]);
			EXPECT_EQ(c.description[3], ir->aperture_description[3]);
		}
		iris_move_to(ir, 0);
		EXPECT_EQ("0x400=" + std::to_string(c.top) + "\n", take_writes());
		iris_go_home(ir);
		EXPECT_EQ("0x400=" + std::to_string(c.top) + "\n", take_writes());
	}
	// A best position past a short table describes the table's last entry.
	iris *short_table = make(CAMBLOCK_LENS_TAMRON_DF024NL, 0, 100);
	EXPECT_EQ(f_numbers_[99], short_table->aperture_description[1]);
	EXPECT_EQ(nullptr, make(CAMBLOCK_LENS_TAMRON_DF024NL, 0, 0));
}

TEST_F(HallIrisTest, TheCanonC50x1485HasNoIrisMotor)
{
	iris *ir = make(CAMBLOCK_LENS_CANON_C50X1485);
	EXPECT_EQ(5u, ir->type);
	EXPECT_EQ(nullptr, ir->priv);
	EXPECT_EQ(0, ir->automatic);
	EXPECT_EQ(0, ir->max_position);
	EXPECT_EQ(PLATFORM_OK, iris_move_to(ir, 3));
	EXPECT_EQ(-1, iris_go_home(ir));
	EXPECT_EQ(0, iris_get_position(ir));
	EXPECT_EQ(-2, iris_move_rel(ir, 1, 1, 0));
	EXPECT_EQ(-2, iris_set_reset_needed(ir));
	EXPECT_EQ(-2, iris_read_sensor(ir));
	EXPECT_EQ("", writes());
	iris_hall_report(ir, 5); // nothing to keep it in
}

} // namespace
