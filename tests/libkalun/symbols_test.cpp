// The library's exported symbols and version nodes, read from the built
// file with readelf and resolved with dlvsym.
#include <gtest/gtest.h>

#include <cstdio>
#include <dlfcn.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const char *const nodes[] = {
    "LIBKALUN_1.0.0", "LIBKALUN_1.1.0", "LIBKALUN_1.2.0", "LIBKALUN_1.3.0",
    "LIBKALUN_1.6.0", "LIBKALUN_1.7.0", "LIBKALUN_2.0.0", "LIBKALUN_2.1.0",
    "LIBKALUN_2.2.0", "LIBKALUN_3.0.0", "LIBKALUN_3.1.0",
};

// Default versions: the node that made each name the default.
const std::map<std::string, std::vector<std::string>> defaults = {
    {"LIBKALUN_1.0.0", {"kalunConnect",           "kalunDisconnect",
                        "kalunGetNumSessions",    "kalunClearError",
                        "kalunGetChipType",       "kalunGetChipName",
                        "kalunGetChipId",         "kalunSetChipId",
                        "kalunSetChip",           "kalunGetModels",
                        "kalunGetModel",          "kalunDeleteModel",
                        "kalunDestroyModel",      "kalunDestroyModels",
                        "kalunGetModelId",        "kalunGetModelSize",
                        "kalunGetModelName",      "kalunGetModelAccess",
                        "kalunGetModelNumInputs", "kalunGetModelNumOutputs",
                        "kalunCreateModelInputs", "kalunCreateModelOutputs",
                        "kalunCreateTensors",     "kalunSetTensorDims",
                        "kalunGetTensorDims",     "kalunSetTensorDataType",
                        "kalunGetTensorDataType", "kalunSetTensorLayout",
                        "kalunGetTensorLayout",   "kalunSetTensorFd",
                        "kalunGetTensorFd",       "kalunCreateInferenceRequest",
                        "kalunRunInference",      "kalunRunInferenceAsync"}},
    {"LIBKALUN_1.1.0",
     {"kalunSetTensorFdSize", "kalunGetTensorFdSize", "kalunSetTensorFdOffset", "kalunGetTensorFdOffset"}},
    {"LIBKALUN_1.2.0", {"kalunGetModelInputByteSizes", "kalunGetModelOutputByteSizes"}},
    {"LIBKALUN_1.3.0", {"kalunListChips"}},
    {"LIBKALUN_1.6.0", {"kalunSetTensorPitches", "kalunGetTensorPitches"}},
    {"LIBKALUN_1.7.0", {"kalunGetTensorName"}},
    {"LIBKALUN_2.0.0",
     {"kalunCreateJobRequest", "kalunDestroyJobRequest", "kalunSetJobRequestInputs",
      "kalunSetJobRequestOutputs", "kalunSetJobRequestModel", "kalunSetJobRequestPriority",
      "kalunSetJobRequestParams", "kalunCreateMap", "kalunDestroyMap", "kalunMapSetStr", "kalunMapSetInt",
      "kalunMapSetIntArr2", "kalunMapSetIntArr4", "kalunMapGetStr", "kalunMapGetInt", "kalunMapGetIntArr2",
      "kalunMapGetIntArr4", "kalunLoadModel_API_VERSION_1", "kalunLoadModelAsync_API_VERSION_1"}},
    {"LIBKALUN_2.1.0", {"kalunGetModelChip"}},
    {"LIBKALUN_2.2.0",
     {"kalunAllocModelInputs", "kalunAllocModelOutputs", "kalunTrackTensor", "kalunSetTensorFdProps",
      "kalunGetTensorFdProps"}},
    {"LIBKALUN_3.0.0",
     {"kalunLoadModel", "kalunLoadModelAsync", "kalunRunJob", "kalunRunJobAsync", "kalunDestroyTensors",
      "kalunListDevices", "kalunGetDevice", "kalunGetDeviceName", "kalunGetDeviceInstance",
      "kalunGetModelDevice", "kalunLoadModel_API_VERSION_2", "kalunLoadModelAsync_API_VERSION_2",
      "kalunRunJob_API_VERSION_2", "kalunRunJobAsync_API_VERSION_2", "kalunDestroyTensors_API_VERSION_1"}},
    {"LIBKALUN_3.1.0", {"kalunGetTensorByteSize"}},
};

// Older bodies kept beside the default, as name@version.
const std::vector<std::pair<std::string, std::string>> kept = {
    {"kalunListChips", "LIBKALUN_1.0.0"},
    {"kalunLoadModel", "LIBKALUN_1.0.0"},
    {"kalunLoadModelAsync", "LIBKALUN_1.0.0"},
    {"kalunLoadModel", "LIBKALUN_2.0.0"},
    {"kalunLoadModelAsync", "LIBKALUN_2.0.0"},
    {"kalunRunJob", "LIBKALUN_2.0.0"},
    {"kalunRunJobAsync", "LIBKALUN_2.0.0"},
    {"kalunDestroyTensors", "LIBKALUN_1.0.0"},
    {"kalunDestroyInferenceRequest", "LIBKALUN_1.0.0"},
    {"kalunSetInferenceRequestInputs", "LIBKALUN_1.0.0"},
    {"kalunSetInferenceRequestOutputs", "LIBKALUN_1.0.0"},
    {"kalunSetInferenceRequestModel", "LIBKALUN_1.0.0"},
    {"kalunSetInferenceRequestPriority", "LIBKALUN_1.0.0"},
};

std::string run(const std::string &cmd)
{
	std::string out;
	FILE *p = popen(cmd.c_str(), "r");
	if (!p)
		return out;
	char buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
		out.append(buf, n);
	pclose(p);
	return out;
}

struct DynSym {
	std::string value;
	std::string type;
	std::string bind;
};

// name@version or name@@version -> the symbol's fields, for every defined
// symbol of the library.
std::map<std::string, DynSym> defined_symbols()
{
	std::map<std::string, DynSym> syms;
	std::istringstream in(run(std::string("readelf --dyn-syms -W ") + LIBKALUN_PATH));
	std::string line;
	while (std::getline(in, line)) {
		std::istringstream f(line);
		std::string num, value, size, type, bind, vis, ndx, name;
		if (!(f >> num >> value >> size >> type >> bind >> vis >> ndx >> name))
			continue;
		if (ndx == "UND" || name.find('@') == std::string::npos)
			continue;
		// readelf may add " (n)" after the name.
		syms[name] = {value, type, bind};
	}
	return syms;
}

TEST(Symbols, EveryNameAtItsVersionAndNothingElse)
{
	std::map<std::string, DynSym> syms = defined_symbols();
	std::set<std::string> expected;
	for (const auto &[node, names] : defaults)
		for (const auto &n : names)
			expected.insert(n + "@@" + node);
	for (const auto &[name, node] : kept)
		expected.insert(name + "@" + node);
	ASSERT_EQ(expected.size(), 98u);

	std::set<std::string> exported;
	std::set<std::string> entry_points;
	for (const auto &[name, sym] : syms) {
		// The version nodes themselves appear as absolute symbols.
		if (sym.type == "OBJECT" && sym.value == std::string(16, '0'))
			continue;
		EXPECT_EQ(sym.type, "FUNC") << name;
		EXPECT_EQ(sym.bind, "GLOBAL") << name;
		exported.insert(name);
		entry_points.insert(sym.value);
	}
	EXPECT_EQ(exported, expected);
	// Five older request names share the bodies of their newer names.
	EXPECT_EQ(entry_points.size(), 93u);
}

TEST(Symbols, ElevenVersionNodesEachInheritingItsPredecessor)
{
	std::string out = run(std::string("readelf -V -W ") + LIBKALUN_PATH);
	size_t defs = out.find("Version definition section");
	ASSERT_NE(defs, std::string::npos) << out;
	size_t needs = out.find("Version needs section", defs);
	std::istringstream in(out.substr(defs, needs - defs));

	std::vector<std::string> names;
	std::map<std::string, std::string> parent;
	std::string line;
	while (std::getline(in, line)) {
		size_t n = line.find("Name: ");
		if (n != std::string::npos) {
			if (line.find("Flags: BASE") == std::string::npos)
				names.push_back(line.substr(n + 6));
			continue;
		}
		size_t p = line.find("Parent 1: ");
		if (p != std::string::npos && !names.empty())
			parent[names.back()] = line.substr(p + 10);
	}
	ASSERT_EQ(names, std::vector<std::string>(std::begin(nodes), std::end(nodes)));
	EXPECT_EQ(parent.count("LIBKALUN_1.0.0"), 0u);
	for (size_t i = 1; i < names.size(); i++)
		EXPECT_EQ(parent[names[i]], names[i - 1]);

	std::string dyn = run(std::string("readelf -d -W ") + LIBKALUN_PATH);
	EXPECT_NE(dyn.find("Library soname: [libkalun.so.1]"), std::string::npos) << dyn;
}

class Loaded : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		handle_ = dlopen(LIBKALUN_PATH, RTLD_NOW | RTLD_LOCAL);
		ASSERT_NE(handle_, nullptr) << dlerror();
	}
	void TearDown() override
	{
		if (handle_)
			dlclose(handle_);
	}
	void *at(const char *name, const char *version)
	{
		void *p = dlvsym(handle_, name, version);
		EXPECT_NE(p, nullptr) << name << "@" << version;
		return p;
	}
	void *handle_ = nullptr;
};

TEST_F(Loaded, OlderRequestNamesAreTheSameEntryPoints)
{
	const char *pairs[][2] = {
	    {"kalunDestroyInferenceRequest", "kalunDestroyJobRequest"},
	    {"kalunSetInferenceRequestInputs", "kalunSetJobRequestInputs"},
	    {"kalunSetInferenceRequestOutputs", "kalunSetJobRequestOutputs"},
	    {"kalunSetInferenceRequestModel", "kalunSetJobRequestModel"},
	    {"kalunSetInferenceRequestPriority", "kalunSetJobRequestPriority"},
	};
	for (auto &p : pairs)
		EXPECT_EQ(at(p[0], "LIBKALUN_1.0.0"), at(p[1], "LIBKALUN_2.0.0")) << p[0];
}

TEST_F(Loaded, EachVersionOfANameHasItsOwnBody)
{
	EXPECT_NE(at("kalunListChips", "LIBKALUN_1.0.0"), at("kalunListChips", "LIBKALUN_1.3.0"));
	void *load[] = {at("kalunLoadModel", "LIBKALUN_1.0.0"), at("kalunLoadModel", "LIBKALUN_2.0.0"),
	                at("kalunLoadModel", "LIBKALUN_3.0.0")};
	EXPECT_NE(load[0], load[1]);
	EXPECT_NE(load[1], load[2]);
	EXPECT_NE(at("kalunRunJob", "LIBKALUN_2.0.0"), at("kalunRunJob", "LIBKALUN_3.0.0"));
	EXPECT_NE(at("kalunDestroyTensors", "LIBKALUN_1.0.0"), at("kalunDestroyTensors", "LIBKALUN_3.0.0"));
	// Unversioned lookup finds the default.
	EXPECT_EQ(dlsym(handle_, "kalunListChips"), at("kalunListChips", "LIBKALUN_1.3.0"));
	EXPECT_EQ(dlsym(handle_, "kalunLoadModel"), load[2]);
	// Inner names stay inside.
	EXPECT_EQ(dlsym(handle_, "kalun_list_chips_1_0"), nullptr);
	EXPECT_EQ(dlsym(handle_, "kalun_error_set"), nullptr);
}

} // namespace
