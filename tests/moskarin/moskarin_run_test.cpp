// moskarin on the simulated SoC, one board a run: a temporary root with the
// board's hardware id, its image-source configuration and colour-correction
// files, the program's sleeps shortened, and what ran, what failed and the
// exit status compared with what the board must give.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <string>
#include <vector>

namespace
{

const char kNotInitialized[] = "/libcl-vorsalind/test_api_not_initialized";
const char kLinear[] = "/libcl-vorsalind/test_api_linear";
const char kTwoExposures[] = "/libcl-vorsalind/test_api_2x_hdr";
const char kSensorHdr[] = "/libcl-vorsalind/test_api_int_hdr";
const char kStats[] = "/libcl-vorsalind/test_stats";

const char kNotServed[] = "the camera library's API serves channel 0 only";

struct Board {
	const char *name;
	const char *hwid;                // nullptr: no boot parameters at all
	int sources;                     // -1: no rundlework.conf
	std::vector<std::string> env;    // further NAME=VALUE
	const char *path;                // the one path to run, or nullptr for all
	std::vector<std::string> ran;    // "ok PATH" or "not ok PATH", in order
	std::vector<std::string> shown;  // texts the run must print
	std::vector<std::string> absent; // texts it must not print
	bool exit_zero;
};

void PrintTo(const Board &b, std::ostream *os)
{
	*os << b.name;
}

std::string ok(const char *path)
{
	return std::string("ok ") + path;
}

std::string failed(const char *path)
{
	return std::string("not ok ") + path;
}

std::string assertion(const char *text)
{
	return std::string("assertion failed (") + text + ")";
}

struct Outcome {
	std::string out, err;
	std::vector<std::string> ran;
	bool exit_zero = false;
};

class MoskarinRun : public ::testing::TestWithParam<Board>
{
      protected:
	void SetUp() override
	{
		root_ = g_dir_make_tmp("moskarin-root-XXXXXX", nullptr);
		ASSERT_NE(root_, nullptr);
	}
	void TearDown() override
	{
		char *argv[] = {(char *)"rm", (char *)"-rf", root_, nullptr};
		g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr,
		             nullptr, nullptr);
		g_free(root_);
	}
	std::string at(const char *path) const
	{
		return std::string(root_) + path;
	}
	void write(const char *path, const std::string &text)
	{
		char *dir = g_path_get_dirname(at(path).c_str());
		ASSERT_EQ(g_mkdir_with_parents(dir, 0755), 0);
		g_free(dir);
		ASSERT_TRUE(g_file_set_contents(at(path).c_str(), text.c_str(), -1, nullptr));
	}
	void prepare(const Board &b)
	{
		if (b.hwid)
			write("/var/lib/keelstone/params", std::string("HWID=") + b.hwid + "\n");
		if (b.sources >= 0)
			write("/etc/sysconfig/rundlework.conf",
			      "[Imaging]\nNumberOfImageSources=" + std::to_string(b.sources) + "\n");
		std::string firmware = at("/lib/firmware");
		ASSERT_EQ(g_mkdir_with_parents(firmware.c_str(), 0755), 0);
		char *argv[] = {(char *)CL_MAKE_CC_BINS, (char *)firmware.c_str(), nullptr};
		int status = -1;
		ASSERT_TRUE(g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr,
		                         nullptr, &status, nullptr));
		ASSERT_TRUE(g_spawn_check_wait_status(status, nullptr));
	}
	Outcome run(const Board &b)
	{
		char **envp = g_get_environ();
		for (const char *drop : {"SIMSOC_LOG", "SIMTVX_FAIL", "G_MESSAGES_DEBUG"})
			envp = g_environ_unsetenv(envp, drop);
		envp = g_environ_setenv(envp, "VISTRAD_ROOT", root_, TRUE);
		envp = g_environ_setenv(envp, "MOSKARIN_SLEEP_SCALE", "0.05", TRUE);
		for (const std::string &e : b.env) {
			size_t eq = e.find('=');
			envp =
			    g_environ_setenv(envp, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), TRUE);
		}
		std::vector<char *> argv = {(char *)MOSKARIN_PROGRAM};
		if (b.path) {
			argv.push_back((char *)"-p");
			argv.push_back((char *)b.path);
		}
		argv.push_back(nullptr);
		Outcome r;
		char *out = nullptr, *err = nullptr;
		int status = -1;
		GError *error = nullptr;
		EXPECT_TRUE(g_spawn_sync(nullptr, argv.data(), envp, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
		                         &err, &status, &error))
		    << (error ? error->message : "");
		g_clear_error(&error);
		g_strfreev(envp);
		r.out = out ? out : "";
		r.err = err ? err : "";
		g_free(out);
		g_free(err);
		r.exit_zero = g_spawn_check_wait_status(status, nullptr);
		// TAP lines: "ok N PATH" and "not ok N PATH".
		char **lines = g_strsplit(r.out.c_str(), "\n", -1);
		for (char **l = lines; *l; l++) {
			std::string line = *l;
			bool pass = line.rfind("ok ", 0) == 0, fail = line.rfind("not ok ", 0) == 0;
			if (!pass && !fail)
				continue;
			size_t path = line.find(' ', pass ? 3 : 7);
			r.ran.push_back((pass ? "ok" : "not ok") + line.substr(path));
		}
		g_strfreev(lines);
		return r;
	}
	void check(const Board &b)
	{
		prepare(b);
		Outcome r = run(b);
		std::string all = r.out + r.err;
		EXPECT_EQ(r.ran, b.ran) << all;
		for (const std::string &text : b.shown)
			EXPECT_NE(all.find(text), std::string::npos) << text << "\n" << all;
		// A sanitizer build's reports would hide behind an expected failure.
		std::vector<std::string> absent = b.absent;
		absent.insert(absent.end(), {"Sanitizer", "runtime error:"});
		for (const std::string &text : absent)
			EXPECT_EQ(all.find(text), std::string::npos) << text << "\n" << all;
		EXPECT_EQ(r.exit_zero, b.exit_zero) << all;
	}
	char *root_ = nullptr;
};

std::string board_name(const ::testing::TestParamInfo<Board> &info)
{
	return info.param.name;
}

// One board a row: what the run registers, what it prints and how it ends.
class MoskarinBoard : public MoskarinRun
{
};

TEST_P(MoskarinBoard, Runs)
{
	check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Moskarin, MoskarinBoard,
    ::testing::Values(
        Board{"UnknownHardwareId",
              "F00",
              1,
              {},
              nullptr,
              {ok(kNotInitialized), failed(kStats)},
              {assertion("tuning != LIBCL_TUNING_INVALID"), assertion("number_of_modes_tested > 0")},
              {"keelstone:"},
              false},
        Board{"NoBootParameters",
              nullptr,
              -1,
              {},
              nullptr,
              {ok(kNotInitialized), failed(kStats)},
              {"keelstone: No such file or directory", assertion("tuning != LIBCL_TUNING_INVALID")},
              {},
              false},
        Board{"OverlongHardwareId",
              "6B0-and-a-hardware-id-far-longer-than-any-board-identifier-has-ever-been",
              1,
              {},
              nullptr,
              {ok(kNotInitialized), failed(kStats)},
              {"keelstone: No space left on device", assertion("tuning != LIBCL_TUNING_INVALID")},
              {},
              false},
        // The library takes at most four video inputs: nothing starts, and
        // every run ends at once.
        Board{"TooManyImageSources",
              "6B0",
              9,
              {},
              nullptr,
              {ok(kNotInitialized), failed(kLinear), failed(kTwoExposures), failed(kStats)},
              {"'init_ok' should be TRUE", "'ret' should be TRUE", "'aaa_started_2' should be TRUE",
               "'test_start_tvx(capture_mode, tuning, nbr_channels)' should be TRUE"},
              {"count_pixels", kNotServed},
              false},
        Board{"VideoStartFails",
              "6B0",
              1,
              {"SIMTVX_FAIL=input_start"},
              kStats,
              {failed(kStats)},
              {"'test_start_tvx(capture_mode, tuning, nbr_channels)' should be TRUE", assertion("fd > 0")},
              {"count_pixels"},
              false},
        // A board with one capture mode: every start and stop waits out
        // the kernel's command timeouts while nothing ticks.
        Board{"NoFrameTicks",
              "6C0",
              1,
              {"SIMSOC_VIN_FRAMERATE=0"},
              kStats,
              {failed(kStats)},
              {assertion("empty_seconds < max_empty_seconds"),
               "'fetch_stats(capture_mode->wdr_mode, libcl_stats_hist)' should be TRUE"},
              {"count_pixels"},
              false},
        Board{"Tuning1025WithoutConfiguration",
              "6B2",
              -1,
              {},
              nullptr,
              {ok(kNotInitialized), ok(kLinear), ok(kSensorHdr), ok(kStats)},
              {"Testing capture mode 1920x1080, WDR mode 0", "Testing capture mode 1920x1080, WDR mode 4"},
              {kNotServed, "ERROR:"},
              true},
        Board{"Tuning1024",
              "6B0",
              1,
              {},
              nullptr,
              {ok(kNotInitialized), ok(kLinear), ok(kTwoExposures), ok(kStats)},
              {"Testing capture mode 2592x1944, WDR mode 0", "Testing capture mode 2592x1944, WDR mode 1"},
              {kNotServed, "ERROR:"},
              true},
        Board{"TwoImageSources",
              "6B1",
              2,
              {},
              nullptr,
              {ok(kNotInitialized), ok(kLinear), ok(kTwoExposures), ok(kStats)},
              {kNotServed},
              {"ERROR:"},
              true},
        Board{"EmptyRgbHistograms",
              "6B0",
              1,
              {"SIMSOC_SCENE_RGB_HIST=0"},
              kStats,
              {failed(kStats)},
              {assertion("count_pixels(stats[channel].rgb_hist.his_bin_r, LIBCL_HIST_BIN_NUM) > 0"),
               assertion("count_pixels(stats[channel].rgb_hist.his_bin_y, LIBCL_HIST_BIN_NUM) > 0")},
              {"cfa_hist.his_bin", "cfa_hdr_hist[0].his_bin", "'ret' should be FALSE"},
              false}),
    board_name);

} // namespace
