// What moskarin decides from the board before it runs anything: the test
// paths a tuning gets and the number of image sources its configuration
// names.
#include "test-common.h"

#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace
{

const char kNotInitialized[] = "/libcl-vorsalind/test_api_not_initialized";
const char kLinear[] = "/libcl-vorsalind/test_api_linear";
const char kTwoExposures[] = "/libcl-vorsalind/test_api_2x_hdr";
const char kSensorHdr[] = "/libcl-vorsalind/test_api_int_hdr";
const char kStats[] = "/libcl-vorsalind/test_stats";

struct Registration {
	int32_t tuning;
	std::vector<std::string> paths;
	uint32_t hdr_mode[MOSKARIN_MAX_CASES]; // of each API run, in order
	int stats_runs;
};

void PrintTo(const Registration &r, std::ostream *os)
{
	*os << "tuning " << r.tuning;
}

std::string tuning_name(const ::testing::TestParamInfo<Registration> &info)
{
	int32_t t = info.param.tuning;
	return t < 0 ? "TuningInvalid" : "Tuning" + std::to_string(t);
}

class RegistrationTest : public ::testing::TestWithParam<Registration>
{
};

TEST_P(RegistrationTest, PathsFollowTheTuningsCaptureModes)
{
	const Registration &r = GetParam();
	moskarin_case cases[MOSKARIN_MAX_CASES];
	int n = moskarin_cases(r.tuning, cases);
	std::vector<std::string> paths;
	int api = 0;
	for (int i = 0; i < n; i++) {
		paths.push_back(cases[i].path);
		if (cases[i].func == test_cl_api) {
			auto *mode = static_cast<const api_mode *>(cases[i].data);
			EXPECT_EQ(mode->hdr_mode, r.hdr_mode[api]) << cases[i].path;
			EXPECT_NE(find_capture_mode(r.tuning, mode->wdr_mode), nullptr) << cases[i].path;
			api++;
		}
	}
	EXPECT_EQ(paths, r.paths);
	EXPECT_EQ(cases[0].func, test_api_not_initialized);
	EXPECT_EQ(cases[n - 1].func, test_cl_stats);
	EXPECT_EQ(count_capture_modes(r.tuning), r.stats_runs);
}

INSTANTIATE_TEST_SUITE_P(
    Tunings, RegistrationTest,
    ::testing::Values(Registration{1024, {kNotInitialized, kLinear, kTwoExposures, kStats}, {0, 1}, 2},
                      Registration{1025, {kNotInitialized, kLinear, kSensorHdr, kStats}, {0, 15}, 2},
                      Registration{1280, {kNotInitialized, kTwoExposures, kStats}, {1}, 1},
                      Registration{1536, {kNotInitialized, kLinear, kSensorHdr, kStats}, {0, 15}, 2},
                      Registration{LIBCL_TUNING_INVALID, {kNotInitialized, kStats}, {}, 0},
                      Registration{1030, {kNotInitialized, kStats}, {}, 0}),
    tuning_name);

// A root with or without the configuration file.
class ImageSources : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		root_ = g_dir_make_tmp("moskarin-XXXXXX", nullptr);
		ASSERT_NE(root_, nullptr);
		setenv("VISTRAD_ROOT", root_, 1);
	}
	void TearDown() override
	{
		g_unlink(conf_path().c_str());
		g_rmdir((std::string(root_) + "/etc/sysconfig").c_str());
		g_rmdir((std::string(root_) + "/etc").c_str());
		g_rmdir(root_);
		g_free(root_);
		unsetenv("VISTRAD_ROOT");
	}
	std::string conf_path() const
	{
		return std::string(root_) + MOSKARIN_RUNDLEWORK_CONF;
	}
	void write_conf(const char *text)
	{
		ASSERT_EQ(g_mkdir_with_parents((std::string(root_) + "/etc/sysconfig").c_str(), 0755), 0);
		ASSERT_TRUE(g_file_set_contents(conf_path().c_str(), text, -1, nullptr));
	}
	char *root_ = nullptr;
};

TEST_F(ImageSources, MissingFileKeyOrIntegerGivesOne)
{
	EXPECT_EQ(get_nbr_image_sources(), 1);
	struct {
		const char *text;
		int expected;
	} cases[] = {
	    {"[Imaging]\nNumberOfImageSources=2\n", 2},
	    {"[Imaging]\nNumberOfImageSources=0\n", 0},
	    {"[Imaging]\nOtherKey=3\n", 1},
	    {"[Other]\nNumberOfImageSources=3\n", 1},
	    {"[Imaging]\nNumberOfImageSources=two\n", 1},
	    {"[Imaging]\nNumberOfImageSources=\n", 1},
	    {"not a key file\n", 1},
	};
	for (const auto &c : cases) {
		write_conf(c.text);
		EXPECT_EQ(get_nbr_image_sources(), c.expected) << c.text;
	}
}

} // namespace
