/* Writes neutral colour-correction files for every sensor of the built-in
 * tuning: the register table and, plain and for HDR, four identity 3D
 * tables each. Usage: cl-make-cc-bins <directory> */
#include <set>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "cl_tuning.h"

namespace
{

const uint32_t kVersion[2] = {1, 0};
constexpr int kGrid = 16;
constexpr uint32_t kFieldMax = 1023;
constexpr size_t kHead = 128;

void put_u32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
	memcpy(b.data() + at, &v, 4);
}

std::vector<uint8_t> reg_table(void)
{
	std::vector<uint8_t> b(CL_CC_REG_SIZE);
	put_u32(b, 0, kVersion[0]);
	put_u32(b, 4, kVersion[1]);
	put_u32(b, 8, CL_CC_REG_SIZE);
	return b;
}

// Entry (r, g, b) of the 16-point cube maps each colour onto itself: three
// 10-bit values, red high.
std::vector<uint8_t> identity_3d(void)
{
	std::vector<uint8_t> b(CL_CC_3D_SIZE);
	put_u32(b, 0, kVersion[0]);
	put_u32(b, 4, kVersion[1]);
	size_t at = kHead;
	for (int r = 0; r < kGrid; r++)
		for (int g = 0; g < kGrid; g++)
			for (int bl = 0; bl < kGrid; bl++, at += 4) {
				auto v = [](int i) { return (uint32_t)i * kFieldMax / (kGrid - 1); };
				put_u32(b, at, v(r) << 20 | v(g) << 10 | v(bl));
			}
	return b;
}

bool write_file(const std::string &path, const std::vector<uint8_t> &b)
{
	FILE *f = fopen(path.c_str(), "wb");
	if (!f) {
		perror(path.c_str());
		return false;
	}
	bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
	ok &= fclose(f) == 0;
	if (!ok)
		perror(path.c_str());
	return ok;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc != 2) {
		fprintf(stderr, "usage: %s <directory>\n", argv[0]);
		return 2;
	}
	std::string dir = argv[1];
	if (!write_file(dir + "/reg.bin", reg_table()))
		return 1;
	std::set<std::string> sensors;
	for (const tuning_row *r = cl_tuning_table; r->board_id != CL_TUNING_END; r++)
		sensors.insert(r->sensor_name);
	const std::vector<uint8_t> cube = identity_3d();
	for (const std::string &s : sensors)
		for (const char *suffix : {"", "_hdr"})
			for (int k = 1; k <= CL_CC_3D_TABLES; k++) {
				char name[256];
				snprintf(name, sizeof name, "/%s_0%d_3D%s.bin", s.c_str(), k, suffix);
				if (!write_file(dir + name, cube))
					return 1;
			}
	return 0;
}
