// The camera library's colour-correction files in a test's own root: the
// neutral files the build wrote (camstack_cc_firmware() in CMake gives the
// test CL_CC_FIRMWARE_ROOT) linked into <root>/lib/firmware.
#ifndef TESTS_SUPPORT_CC_FIRMWARE_H
#define TESTS_SUPPORT_CC_FIRMWARE_H

#include <filesystem>
#include <string>
#include <system_error>

// true when every file is in place.
inline bool install_cc_firmware(const std::string &root)
{
	namespace fs = std::filesystem;
	std::error_code ec;
	fs::path from = fs::path(CL_CC_FIRMWARE_ROOT) / "lib/firmware";
	fs::path to = fs::path(root) / "lib/firmware";
	fs::create_directories(to, ec);
	if (ec)
		return false;
	for (const fs::directory_entry &e : fs::directory_iterator(from, ec)) {
		fs::path link = to / e.path().filename();
		fs::remove(link, ec);
		fs::create_symlink(e.path(), link, ec);
		if (ec)
			return false;
	}
	return !ec;
}

#endif
