// The DSP log tool run as a program under LD_PRELOAD=libsimsoc.so, with the
// simulated devices steered through SIMSOC_* variables.
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "receiver.h"

namespace
{

using Bytes = std::vector<uint8_t>;

// The simulated ucode version and its 16 bytes as the driver returns them.
const char kVersionEnv[] = "2026,11,20,3,107,2";
const uint8_t kVersionBytes[16] = {0xEA, 0x07, 11, 20, 3, 0, 0, 0, 107, 0, 0, 0, 2, 0, 0, 0};

std::string slurp(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::stringstream ss;
	ss << in.rdbuf();
	return ss.str();
}

Bytes slurp_bytes(const std::string &path)
{
	std::string s = slurp(path);
	return Bytes(s.begin(), s.end());
}

void spit(const std::string &path, const Bytes &data)
{
	std::ofstream out(path, std::ios::binary);
	out.write(reinterpret_cast<const char *>(data.data()), (std::streamsize)data.size());
}

Bytes header(const uint8_t version[16])
{
	Bytes h(32, 0);
	memcpy(h.data(), "DLOG", 4);
	memcpy(h.data() + 4, version, 16);
	return h;
}

Bytes stream_bytes(size_t n)
{
	Bytes v(n);
	uint32_t x = 12345;
	for (size_t i = 0; i < n; i++) {
		x = x * 1103515245u + 12345u;
		v[i] = (uint8_t)(x >> 16);
	}
	return v;
}

class Trelvox : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/trelvox-test-XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir_ = tmpl;
		env_["SIMSOC_LOG"] = dir_ + "/simsoc.log";
		env_["SIMSOC_UCODE_VERSION"] = kVersionEnv;
		env_["SIMSOC_VORAD_FLAG"] = "0x10";
		env_["VORS_DEBUG_LOG"] = dir_ + "/vors_debug.log";
		env_["VORS_DEBUG_OUT"] = dir_ + "/dspmem_dump.bin";
	}

	void TearDown() override
	{
		if (pid_ > 0) {
			kill(pid_, SIGKILL);
			waitpid(pid_, nullptr, 0);
		}
		std::string cmd = "rm -rf '" + dir_ + "'";
		EXPECT_EQ(system(cmd.c_str()), 0);
	}

	void start(const std::vector<std::string> &args)
	{
		std::string out = dir_ + "/output.txt";
		pid_ = fork();
		ASSERT_GE(pid_, 0);
		if (pid_ != 0)
			return;
		int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		dup2(fd, 1);
		dup2(fd, 2);
		setenv("LD_PRELOAD", SIMSOC_LIB, 1);
		// In sanitizer builds the preloaded library comes before the runtime.
		std::string asan = std::string(getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "") +
		                   ":verify_asan_link_order=0";
		setenv("ASAN_OPTIONS", asan.c_str(), 1);
		std::string path =
		    std::string(STANDIN_DIR) + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
		setenv("PATH", path.c_str(), 1);
		for (const auto &kv : env_)
			setenv(kv.first.c_str(), kv.second.c_str(), 1);
		std::vector<char *> argv;
		argv.push_back(const_cast<char *>(TRELVOX_BIN));
		for (const std::string &a : args)
			argv.push_back(const_cast<char *>(a.c_str()));
		argv.push_back(nullptr);
		execv(TRELVOX_BIN, argv.data());
		_exit(127);
	}

	int wait_exit(int timeout_s = 60)
	{
		auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
		int status = 0;
		while (waitpid(pid_, &status, WNOHANG) == 0) {
			if (std::chrono::steady_clock::now() > until) {
				ADD_FAILURE() << "trelvox did not end";
				return -1;
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		}
		pid_ = -1;
		if (!WIFEXITED(status)) {
			ADD_FAILURE() << "trelvox ended by signal " << WTERMSIG(status);
			return -1;
		}
		return WEXITSTATUS(status);
	}

	int run(const std::vector<std::string> &args)
	{
		start(args);
		return wait_exit();
	}

	std::string output()
	{
		return slurp(dir_ + "/output.txt");
	}
	std::string device_log()
	{
		return slurp(dir_ + "/simsoc.log");
	}

	bool wait_for_log(const std::string &line, int timeout_s = 60)
	{
		auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
		while (device_log().find(line) == std::string::npos) {
			if (std::chrono::steady_clock::now() > until)
				return false;
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
		}
		return true;
	}

	// Capture until the device has played all of its bytes, then Ctrl+C.
	int capture(const std::vector<std::string> &args, const Bytes &stream)
	{
		spit(dir_ + "/stream.bin", stream);
		env_["SIMSOC_DSPLOG_DATA"] = dir_ + "/stream.bin";
		start(args);
		char line[64];
		snprintf(line, sizeof line, "dsplog: played all %zu bytes", stream.size());
		EXPECT_TRUE(wait_for_log(stream.empty() ? "dsplog: start capture" : line)) << output();
		kill(pid_, SIGINT);
		return wait_exit();
	}

	std::string dir_;
	std::map<std::string, std::string> env_;
	pid_t pid_ = -1;
};

// ---- options ------------------------------------------------------------------

struct OptionCase {
	std::vector<std::string> args;
	int status;
	std::vector<std::string> messages;
	bool usage;
};

TEST_F(Trelvox, OptionTable)
{
	const std::vector<OptionCase> cases = {
	    {{"-o", "/tmp/a", "-i", "/tmp/b"},
	     255,
	     {"Cannot enable dsplog capture (output) and dsplog parse (parse_in) at same time!\n"},
	     true},
	    {{}, 255, {"\nPlease specify cmd to either capture or parse!\n"}, true},
	    {{"-l", "5", "-o", "x"}, 255, {"Invalid debug level.\n"}, true},
	    {{"-l", "two", "-o", "x"}, 255, {"Invalid debug level.\n"}, true},
	    {{"-r", "16", "-o", "x"},
	     255,
	     {"unsupported bit mask value in decimal 16 for this ARCH\n", "Invalid thread bit mask.\n"},
	     true},
	    {{"-r", "0x1G", "-o", "x"},
	     255,
	     {"get_thread_bitmask: error to get hex value from string 0x1G\n", "Invalid thread bit mask.\n"},
	     true},
	    {{"-m", "all",     "-m", "vcap",    "-m", "api", "-m", "idsp", "-m", "vout",
	      "-m", "encoder", "-m", "decoder", "-m", "all", "-m", "vcap", "-o", "x"},
	     255,
	     {"Too many modules to debug.\n"},
	     true},
	    {{"--module", "audio", "-o", "x"},
	     255,
	     {"DSP module audio not supported to debug for this ARCH \n", "Invalid dsp module id.\n"},
	     true},
	    {{"-b", "0xFFFFFFFFF", "-o", "x"},
	     255,
	     {"get_dsp_bitmask: error to get hex value from string 0xFFFFFFFFF\n"},
	     true},
	    {{"-o", ""}, 255, {"Invalid parse_out DSP log file name.\n"}, true},
	    {{"--parse-in="}, 255, {"Invalid parse_in DSP log file name.\n"}, true},
	    {{"-t", "-o", "/tmp/x.bin"},
	     255,
	     {"When tcp transfer mode specified, please do not use '/' in outputfilename, current name is "
	      "[/tmp/x.bin].\n"},
	     true},
	    {{"-t", "-i", "x.bin"}, 255, {"Do not support parse dsp log by -t option now.\n"}, true},
	    {{"-y", "/tmp/verify.bin"},
	     255,
	     {"Cannot run VERIFY function due to the non-fixed DSP log buffer start address.\n"},
	     false},
	    {{"-w"}, 0, {"dsplog tool version is 1.6.\n"}, false},
	    {{"--version", "-z", "-r", "0xF", "-m", "VCAP", "-l", "4"},
	     0,
	     {"dsplog tool version is 1.6.\n"},
	     false},
	    {{"-p", "1000", "-w"}, 0, {"Use pinpong buffer with default size 10 MB.\n"}, false},
	    {{"-V"}, 0, {"Current ucode version is 2026-11-20.num3-ver107.\n"}, false},
	};
	for (const OptionCase &c : cases) {
		std::string cmd;
		for (const std::string &a : c.args)
			cmd += a + " ";
		SCOPED_TRACE(cmd);
		EXPECT_EQ(run(c.args), c.status);
		std::string out = output();
		for (const std::string &m : c.messages)
			EXPECT_NE(out.find(m), std::string::npos) << out;
		EXPECT_EQ(out.find("Usage:\n") != std::string::npos, c.usage) << out;
	}
}

TEST_F(Trelvox, UsageListsEveryOption)
{
	EXPECT_EQ(run({}), 255);
	std::string out = output();
	EXPECT_NE(
	    out.find("\n\n############################################################\n trelvox ver 1.6.\n"),
	    std::string::npos);
	EXPECT_NE(out.find(" -m --module [string]\t\tvcap, vout, encoder, decoder, idsp, api, all\n"),
	          std::string::npos);
	EXPECT_NE(out.find(" -o --bin-out [filename]\tfilename of dsplog binary to capture (capture_out)\n"),
	          std::string::npos);
	EXPECT_NE(out.find(" -w --version\t\t\tshow trelvox tool version\n"), std::string::npos);
	EXPECT_NE(out.find("  # trelvox -i /tmp/dsplog1.bin -f /tmp/dsplog.txt \n\n"), std::string::npos);
	size_t lines = 0;
	for (const char *opt :
	     {"module", "level", "thread", "bitmask", "bin-out", "tcp", "current", "pinpong", "add",
	      "caponly", "ucode-dir", "parse-in", "logtext", "verify", "ucode-ver", "version", "verbose"})
		lines += out.find(std::string("--") + opt) != std::string::npos;
	EXPECT_EQ(lines, 17u);
}

TEST_F(Trelvox, UcodeVersionNeedsTheDevice)
{
	env_["SIMSOC_FAIL"] = "/dev/ucode:ioctl:EIO";
	EXPECT_EQ(run({"-V"}), 255);
	EXPECT_NE(output().find("QVD_IOC_GET_UCODE_VERSION"), std::string::npos);
	EXPECT_EQ(output().find("Current ucode version is"), std::string::npos);
	env_["SIMSOC_FAIL"] = "/dev/ucode:open:ENOENT";
	EXPECT_EQ(run({"-V"}), 255);
	EXPECT_NE(output().find("/dev/ucode: No such file or directory"), std::string::npos);
}

TEST_F(Trelvox, LogmemDumpRunsTheDebugTool)
{
	EXPECT_EQ(run({"-c"}), 0);
	EXPECT_EQ(slurp(dir_ + "/vors_debug.log"), "-r 0x80000 -s 0x20000 -f /tmp/dspmem_dump.bin\n");
	EXPECT_NE(output().find("log got and save to /tmp/dspmem_dump.bin, please check it.\n"),
	          std::string::npos);
	EXPECT_EQ(slurp(dir_ + "/dspmem_dump.bin").size(), 0x20000u);
	env_["VORS_DEBUG_EXIT"] = "3";
	EXPECT_EQ(run({"-c"}), 255);
	EXPECT_EQ(output().find("log got and save"), std::string::npos);
}

// ---- capture --------------------------------------------------------------------

TEST_F(Trelvox, ModuleMaskSentToTheDriver)
{
	struct Case {
		std::vector<std::string> args;
		std::string request;
	} cases[] = {
	    {{"-m", "all", "-m", "vcap", "-l", "3"}, "qvd: set dsp log cmd 1 mask 0x0fffc13f level 3"},
	    {{"-m", "vcap", "-m", "api"}, "qvd: set dsp log cmd 1 mask 0x0000003f level 0"},
	    {{"-m", "vcap", "-m", "all", "-l", "1"}, "qvd: set dsp log cmd 1 mask 0x0fffc13f level 1"},
	    {{"-m", "Encoder", "-m", "decoder", "-m", "idsp", "-m", "vout"},
	     "qvd: set dsp log cmd 1 mask 0x0fffc100 level 0"},
	    {{"-b", "0x0FFC003F", "-l", "3", "-r", "0"}, "qvd: set dsp log cmd 1 mask 0x0ffc003f level 3"},
	    {{"-b", "4096", "-l", "2"}, "qvd: set dsp log cmd 1 mask 0x00001000 level 2"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.request);
		unlink((dir_ + "/simsoc.log").c_str());
		std::vector<std::string> args = c.args;
		args.push_back("-o");
		args.push_back(dir_ + "/out.bin");
		EXPECT_EQ(capture(args, {}), 0);
		std::string log = device_log();
		EXPECT_NE(log.find(c.request + "\n"), std::string::npos) << log;
		EXPECT_NE(log.find("vorad: set debug flag 0x12\n"), std::string::npos) << log;
	}
}

TEST_F(Trelvox, CaptureOnlyLeavesTheDspLogAlone)
{
	EXPECT_EQ(capture({"-s", "-m", "all", "-o", dir_ + "/out.bin"}, stream_bytes(1000)), 0);
	EXPECT_EQ(device_log().find("qvd:"), std::string::npos);
	EXPECT_NE(output().find("trelvox: capture only mode, do not send 'set debug level and bitmask' \n"),
	          std::string::npos);
	Bytes expect = header(kVersionBytes);
	Bytes s = stream_bytes(1000);
	expect.insert(expect.end(), s.begin(), s.end());
	EXPECT_EQ(slurp_bytes(dir_ + "/out.bin"), expect);
}

TEST_F(Trelvox, CaptureToFileKeepsEveryByte)
{
	// More than twice the 6 MB ring, in reads of varying size.
	Bytes stream = stream_bytes(13 * 1024 * 1024 + 12345);
	std::string out = dir_ + "/out.bin";
	EXPECT_EQ(capture({"-m", "all", "-l", "3", "-r", "0", "-o", out}, stream), 0);
	Bytes expect = header(kVersionBytes);
	expect.insert(expect.end(), stream.begin(), stream.end());
	Bytes got = slurp_bytes(out);
	ASSERT_EQ(got.size(), expect.size());
	EXPECT_TRUE(got == expect);
	std::string o = output();
	for (const char *line :
	     {"try to stop dsp log capture.\n", "dsp log capture stopped OK.\n",
	      "trelvox: capture thread finished.\n", "trelvox: transfer thread finished.\n",
	      "sig_thread exits!\n", "cap_thread exits!\n", "transfer_thread exits!\n",
	      "trelvox: capture done and main thread exit!\n"})
		EXPECT_NE(o.find(line), std::string::npos) << line;
	std::string log = device_log();
	EXPECT_LT(log.find("dsplog: start capture"), log.find("dsplog: stop capture"));
	struct stat st;
	ASSERT_EQ(stat(out.c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 0111, 0u);
}

TEST_F(Trelvox, CaptureOverTcp)
{
	Receiver rx;
	ASSERT_TRUE(rx.listen());
	env_["HOST_IP_ADDR"] = rx.address();
	Bytes stream = stream_bytes(7 * 1024 * 1024 + 3);
	EXPECT_EQ(capture({"-t", "-m", "idsp", "-o", "dsplog1.bin"}, stream), 0);
	Bytes got = rx.wait();
	Bytes expect(256, 0);
	memcpy(expect.data(), "dsplog1.bin", 11);
	Bytes h = header(kVersionBytes);
	expect.insert(expect.end(), h.begin(), h.end());
	expect.insert(expect.end(), stream.begin(), stream.end());
	ASSERT_EQ(got.size(), expect.size());
	EXPECT_TRUE(got == expect);
}

TEST_F(Trelvox, PinpongFilesRotate)
{
	const size_t limit = 3 * 1024 * 1024;
	Bytes stream = stream_bytes(13 * 1024 * 1024 + 777);
	std::string base = dir_ + "/pp.bin";
	EXPECT_EQ(capture({"-p", std::to_string(limit), "-o", base}, stream), 0);
	EXPECT_NE(access(base.c_str(), F_OK), 0);
	Bytes f1 = slurp_bytes(base + ".1"), f2 = slurp_bytes(base + ".2");
	Bytes h = header(kVersionBytes);
	ASSERT_GE(f1.size(), 32u);
	ASSERT_GE(f2.size(), 32u);
	EXPECT_TRUE(std::equal(h.begin(), h.end(), f1.begin()));
	EXPECT_TRUE(std::equal(h.begin(), h.end(), f2.begin()));
	// The stream ends in the file written last; the other one was closed once
	// it held the limit, and together they hold the stream's tail.
	Bytes p1(f1.begin() + 32, f1.end()), p2(f2.begin() + 32, f2.end());
	bool two_last = std::equal(p2.rbegin(), p2.rend(), stream.rbegin());
	const Bytes &last = two_last ? p2 : p1, &prev = two_last ? p1 : p2;
	ASSERT_TRUE(std::equal(last.rbegin(), last.rend(), stream.rbegin()));
	EXPECT_GE(prev.size(), limit);
	ASSERT_LE(prev.size() + last.size(), stream.size());
	size_t at = stream.size() - last.size() - prev.size();
	EXPECT_TRUE(std::equal(prev.begin(), prev.end(), stream.begin() + (long)at));
}

TEST_F(Trelvox, DeviceReadFailureEndsWithStatus1)
{
	env_["SIMSOC_FAIL"] = "/dev/dsplog:read:EIO";
	start({"-o", dir_ + "/out.bin"});
	EXPECT_EQ(wait_exit(), 1);
	EXPECT_NE(output().find("trelvox: capture failed. \n"), std::string::npos);
}

TEST_F(Trelvox, TcpWithoutReceiverEndsWithStatus1)
{
	env_["HOST_IP_ADDR"] = Receiver::unique_address();
	start({"-t", "-o", "x.bin"});
	EXPECT_EQ(wait_exit(), 1);
	EXPECT_NE(output().find("dsplog_get_transfer_fd failed for x.bin \n"), std::string::npos);
}

TEST_F(Trelvox, SetUpFailuresEndWith255)
{
	struct Case {
		const char *fail;
		const char *message;
	} cases[] = {
	    {"/dev/qvd:open:ENODEV", "/dev/qvd: No such device"},
	    {"/dev/qvd:ioctl:EINVAL", "trelvox: dsplog_setup failed \n"},
	    {"/dev/dsplog:open:ENOENT", "cannot open /dev/dsplog: No such file or directory"},
	    {"/dev/vorad:ioctl:EIO", "VORS_DEBUG_IOC_GET_DEBUG_FLAG"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.fail);
		env_["SIMSOC_FAIL"] = c.fail;
		EXPECT_EQ(run({"-o", dir_ + "/out.bin"}), 255);
		EXPECT_NE(output().find(c.message), std::string::npos) << output();
	}
}

// ---- parsing ----------------------------------------------------------------------

struct Record {
	uint32_t seq;
	uint8_t core;
	uint8_t id;
	uint32_t fmt;
	uint32_t args[5];
};

Bytes records(const std::vector<Record> &recs)
{
	Bytes b;
	for (const Record &r : recs) {
		uint8_t raw[32] = {};
		memcpy(raw, &r.seq, 4);
		raw[4] = r.core;
		raw[5] = r.id;
		memcpy(raw + 8, &r.fmt, 4);
		memcpy(raw + 12, r.args, 20);
		b.insert(b.end(), raw, raw + 32);
	}
	return b;
}

class TrelvoxParse : public Trelvox
{
      protected:
	void SetUp() override
	{
		Trelvox::SetUp();
		ucode_ = dir_ + "/ucode";
		mkdir(ucode_.c_str(), 0755);
		image("orccode.bin", 0x1000,
		      {{0x100, "frame %d done, ae=%u\n"},
		       {0x200, "hex %08x %X %o 100%%\n"},
		       {0x300, "w %1000000d|%.99999999999u|%13x|%-12d|%#o"},
		       {0xFFC, "tail"}});
		image("default_binary.bin", 0x400, {{0x40, "vout %d %s %n %f %c end\n"}});
		image("orcme.bin", 0x200, {{0x10, "%d %d %-4d|%+d %5.3d %d %lu\n"}});
	}

	void image(const char *name, size_t size, const std::vector<std::pair<size_t, std::string>> &strings)
	{
		Bytes b(size, 0xAA);
		for (const auto &s : strings) {
			memcpy(b.data() + s.first, s.second.c_str(),
			       std::min(s.second.size() + 1, size - s.first));
		}
		spit(ucode_ + "/" + name, b);
	}

	int parse(const Bytes &log, const std::vector<std::string> &extra = {})
	{
		spit(dir_ + "/log.bin", log);
		std::vector<std::string> args = {"-i",  dir_ + "/log.bin", "-f", dir_ + "/log.txt", "-d",
		                                 ucode_};
		args.insert(args.end(), extra.begin(), extra.end());
		return run(args);
	}

	std::string text()
	{
		return slurp(dir_ + "/log.txt");
	}
	std::string ucode_;
};

const std::vector<Record> kRecords = {
    {10, 0, 1, 0x900100, {5, 7, 0, 0, 0}},
    {11, 0, 2, 0x900200, {0xBEEF, 0xCAFE, 8, 0, 0}},
    {13, 1, 3, 0x600040, {-2u, 0x41414141, 0, 0, 0}},
    {14, 2, 0, 0x300010, {1, 2, 3, 4, 0xFFFFFFFF}},
    {15, 0, 0, 0, {1, 2, 3, 4, 5}},        // no text
    {16, 3, 0, 0x900100, {0, 0, 0, 0, 0}}, // no such core
    {17, 0, 0, 0x901000, {0, 0, 0, 0, 0}}, // beyond the image
    {18, 1, 0, 0x5FFFFF, {0, 0, 0, 0, 0}}, // below the image
    {19, 0, 9, 0x900FFC, {0, 0, 0, 0, 0}}, // runs to the image's end
};

const char kText[] = "[core:1:10] frame 5 done, ae=7\n"
                     "[core:2:11] hex 0000beef CAFE 10 100%\n"
                     "[core:3:13] vout -2 %s %n %f %c end\n"
                     "[core:0:14] 1 2 3   |+4  -001 %d %lu\n"
                     "[core:9:19] tail";

TEST_F(TrelvoxParse, TextAndSummary)
{
	Bytes log = header(kVersionBytes);
	Bytes r = records(kRecords);
	log.insert(log.end(), r.begin(), r.end());
	ASSERT_EQ(parse(log), 0);
	EXPECT_EQ(text(), std::string("Current ucode version is (V2) 2026/11/20 3.107\n") + kText);
	std::string out = output();
	EXPECT_NE(out.find("dsplog check version correct\n"), std::string::npos);
	EXPECT_NE(out.find("dsp_core = 3\n"), std::string::npos);
	EXPECT_NE(
	    out.find("\r first record : 10\n  last record : 19\ntotal records : 9\n lost records : 1\n"),
	    std::string::npos)
	    << out;
	EXPECT_EQ(out.find("record lost"), std::string::npos);
}

// Firmware strings cannot make a record longer than its values need: widths
// and precisions are cut to 12, the most a 32-bit value can need, and the
// text says so once.
TEST_F(TrelvoxParse, FieldWidthsAreBounded)
{
	ASSERT_EQ(parse(records({{1, 0, 0, 0x900300, {7, 8, 0xAB, 5, 0xFFFFFFFF}},
	                         {2, 0, 0, 0x900300, {-1u, 0, 0, 0, 0}}})),
	          0);
	EXPECT_EQ(text(), "[core:0:1] w            7|000000000008|          ab|5           |037777777777\n"
	                  "[trelvox: field widths and precisions over 12 are cut to 12]\n"
	                  "[core:0:2] w           -1|000000000000|           0|0           |0");
}

TEST_F(TrelvoxParse, WithoutHeaderFromTheStart)
{
	ASSERT_EQ(parse(records(kRecords)), 0);
	EXPECT_EQ(text(), kText);
	EXPECT_NE(output().find("There is no DSPLOG header found, start to parse LOG content.\n"),
	          std::string::npos);
}

TEST_F(TrelvoxParse, VersionMismatchGoesOn)
{
	uint8_t other[16];
	memcpy(other, kVersionBytes, 16);
	other[12] = 0xFF;
	other[13] = 0xFF;
	Bytes log = header(other);
	Bytes r = records(kRecords);
	log.insert(log.end(), r.begin(), r.end());
	ASSERT_EQ(parse(log), 0);
	EXPECT_EQ(text(), kText);
	std::string out = output();
	EXPECT_NE(out.find("Captured ucode version is (Unknown) 2026/11/20 3.107\n"
	                   "But parse ucode version is (V2) 2026/11/20 3.107\n"
	                   "Parsed ucode version is mismatch with captured\n"
	                   "NOTE: Continue parse dsplog although ucode version is mismatched!!\n"),
	          std::string::npos)
	    << out;
}

TEST_F(TrelvoxParse, LostRecordsAndTheLogmemDump)
{
	auto seqs = [](std::vector<uint32_t> s) {
		std::vector<Record> r;
		for (uint32_t q : s)
			r.push_back({q, 0, 0, 0, {0, 0, 0, 0, 0}});
		return records(r);
	};
	struct Case {
		std::vector<uint32_t> seqs;
		std::string summary;
	} cases[] = {
	    {{10, 11, 13}, " first record : 10\n  last record : 13\ntotal records : 3\n lost records : 1\n"},
	    {{5, 6, 7, 2, 3, 4},
	     " first record : 5\n  last record : 4\ntotal records : 6\n"
	     "this is a LOGMEM ring buf direct dump\n"},
	    {{}, " first record : 0\n  last record : 0\ntotal records : 0\n lost records : 0\n"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.summary);
		ASSERT_EQ(parse(seqs(c.seqs), {"-v"}), 0);
		EXPECT_NE(output().find(c.summary), std::string::npos) << output();
	}
	ASSERT_EQ(parse(seqs({10, 11, 13, 20}), {"-v"}), 0);
	EXPECT_NE(output().find("\nrecord lost: last = 11, cur = 13, cnt = 1\n"), std::string::npos);
	EXPECT_NE(output().find("\nrecord lost: last = 13, cur = 20, cnt = 6\n"), std::string::npos);
}

TEST_F(TrelvoxParse, MissingFiles)
{
	unlink((ucode_ + "/orcme.bin").c_str());
	EXPECT_EQ(parse(records(kRecords)), 255);
	EXPECT_NE(output().find("Cannot open ucode bin file [" + ucode_ + "/orcme.bin].\n"),
	          std::string::npos);
	EXPECT_NE(output().find("mmap ucode bin orcme.bin failed \n"), std::string::npos);

	SetUp();
	EXPECT_EQ(run({"-i", dir_ + "/none.bin", "-f", dir_ + "/log.txt", "-d", ucode_}), 255);
	EXPECT_NE(output().find("Cannot open dsplog file " + dir_ +
	                        "/none.bin to parse, please use '-i' option to specify.\n"),
	          std::string::npos);
	EXPECT_NE(output().find("trelvox: parse dsp log failed \n"), std::string::npos);
	EXPECT_EQ(access((dir_ + "/log.txt").c_str(), F_OK), 0);
}

} // namespace
