// Lens detection against the simulated lens controller: one read of the lens
// id, the device closed again, and the id's module selected for the channel.

#include <dirent.h>
#include <errno.h>
#include <simsoc_lens_mcu.h>

#include "core/prodconf_modules.h"
#include "optics/camblock.h"
#include "optics_fixture.h"

namespace
{

int open_descriptors()
{
	int count = 0;
	DIR *dir = opendir("/proc/self/fd");
	while (dir && readdir(dir))
		count++;
	if (dir)
		closedir(dir);
	return count;
}

class CamblockDetectTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		OpticsTest::SetUp();
		simsoc_lens_mcu_reset();
		mcu_ = simsoc_lens_mcu_add(1, 0x43);
		prodconf_register_modules(conf_);
		for (int c = 0; c < 2; c++) {
			conf_->constants[c].camblock_i2c_device = g_strdup("/dev/i2c-1");
			conf_->constants[c].camblock_i2c_address = 0x43;
		}
	}
	void TearDown() override
	{
		OpticsTest::TearDown();
		simsoc_lens_mcu_reset();
	}
	// The camera-block module selected for a channel, or "".
	std::string selected(int channel)
	{
		GList *names = conf_->selected_modules[channel];
		return names ? static_cast<const char *>(names->data) : "";
	}
	simsoc_lens_mcu *mcu_ = nullptr;
};

TEST_F(CamblockDetectTest, EachListedIdSelectsItsModuleAfterOneRead)
{
	const struct {
		uint16_t id;
		const char *module;
	} cases[] = {
	    {0, "camblock_tamron_df010nl"},       {2, "camblock_tamron_df020nl"},
	    {6, "camblock_tamron_df024nl"},       {9, "camblock_tamron_de011n"},
	    {13, "camblock_ricom_af02812db_icr"}, {15, "camblock_cbc_tsf2_9z2813bhrw_f5"},
	    {20, "camblock_ytot_yt50011db_icr"},  {21, "camblock_cbc_nsf2_3z5915bmrw_f5"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.module);
		g_list_free_full(conf_->selected_modules[0], g_free);
		conf_->selected_modules[0] = nullptr;
		simsoc_lens_mcu_set(mcu_, 0x00C, c.id);
		unsigned reads = simsoc_lens_mcu_reads(mcu_, 0x00C);
		int descriptors = open_descriptors();
		EXPECT_EQ(0, camblock_detect(conf_, engine_, 0));
		EXPECT_EQ(reads + 1, simsoc_lens_mcu_reads(mcu_, 0x00C));
		EXPECT_EQ(descriptors, open_descriptors());
		EXPECT_EQ(c.module, selected(0));
		const prodconf_state *state = prodconf_lookup_state(conf_, c.module);
		ASSERT_NE(nullptr, state);
		EXPECT_EQ(state->value, prodconf_get_state(conf_, 0, PRODCONF_STATE_CAMBLOCK));
	}
	EXPECT_EQ("", log_.text(DEBUG_ERROR));
}

TEST_F(CamblockDetectTest, UnlistedIdsAndFailedReadsSelectNothing)
{
	for (uint16_t id : {4, 8, 10, 11, 14, 16, 17, 22, 25}) {
		SCOPED_TRACE(id);
		simsoc_lens_mcu_set(mcu_, 0x00C, id);
		camblock_detect(conf_, engine_, 0);
		EXPECT_EQ("", selected(0));
	}
	simsoc_lens_mcu_fail(mcu_, 0x00C, SIMSOC_LENS_READ, ENXIO);
	int descriptors = open_descriptors();
	camblock_detect(conf_, engine_, 0);
	EXPECT_EQ(descriptors, open_descriptors());
	EXPECT_EQ("", selected(0));
	std::string log = log_.text(DEBUG_ERROR);
	size_t count = 0;
	for (size_t at = log.find("Failed to create camblock :(\n"); at != std::string::npos;
	     at = log.find("Failed to create camblock :(\n", at + 1))
		count++;
	EXPECT_EQ(10u, count);
}

TEST_F(CamblockDetectTest, AbsentDeviceFailsTheRead)
{
	g_free(conf_->constants[0].camblock_i2c_device);
	conf_->constants[0].camblock_i2c_device = g_strdup("/dev/i2c-7");
	camblock_detect(conf_, engine_, 0);
	EXPECT_EQ("", selected(0));
	EXPECT_NE(std::string::npos, log_.text(DEBUG_ERROR).find("Failed to create camblock :(\n"));
}

TEST_F(CamblockDetectTest, StreamIdGivesTheChannel)
{
	simsoc_lens_mcu_set(mcu_, 0x00C, 6);
	camblock_detect(conf_, engine_, -1);
	EXPECT_EQ("camblock_tamron_df024nl", selected(0));
	EXPECT_EQ("", selected(1));
	simsoc_lens_mcu_set(mcu_, 0x00C, 0);
	camblock_detect(conf_, engine_, 0x1FF);
	EXPECT_EQ("camblock_tamron_df010nl", selected(1));
	EXPECT_EQ("camblock_tamron_df024nl", selected(0));
}

} // namespace
