// A captured DSP log through trelvox's parser, with the ucode images whose
// format strings its records name. The input is the log, then after a
// "\n#image\n" line the bytes of the three images (cut again at the same
// line; missing ones are empty).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_root.h"
#include "trelvox.h"

namespace
{

const char *const image_files[] = {"orccode.bin", "default_binary.bin", "orcme.bin"};

fuzz::Root *root;
trelvox_settings settings;
trelvox_ucode_version running;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	static fuzz::Root r("fuzz-trelvox");
	root = &r;
	trelvox_settings_init(&settings);
	snprintf(settings.ucode_dir, sizeof settings.ucode_dir, "%s", root->path().c_str());
	snprintf(settings.parse_in, sizeof settings.parse_in, "%s/log.bin", root->path().c_str());
	snprintf(settings.parse_out, sizeof settings.parse_out, "%s/log.txt", root->path().c_str());
	settings.parse_in_given = true;
	settings.verbose = true;
	// The version a captured header names when it matches this one.
	memcpy(running.bytes, "\xea\x07\x0c\x0a\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00",
	       sizeof running.bytes);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> pieces = fuzz::split(data, size, "\n#image\n");
	if (pieces.size() > 4)
		return -1;
	root->write("/log.bin", pieces[0]);
	for (size_t i = 0; i < 3; i++)
		root->write(std::string("/") + image_files[i], i + 1 < pieces.size() ? pieces[i + 1] : "");
	trelvox_parse(&settings, &running);
	return 0;
}
