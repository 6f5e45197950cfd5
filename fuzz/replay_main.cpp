// Without libFuzzer each fuzz target runs every input stored in its corpus
// once, so that the normal build and CI replay what fuzzing ever found.
// Arguments are files or folders of files; a crash or a sanitizer report
// ends the run as it would a fuzzing run.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace
{

void collect(const std::string &path, std::vector<std::string> &files)
{
	struct stat st;
	if (stat(path.c_str(), &st) != 0) {
		fprintf(stderr, "replay: %s: no such file or folder\n", path.c_str());
		return;
	}
	if (!S_ISDIR(st.st_mode)) {
		files.push_back(path);
		return;
	}
	DIR *dir = opendir(path.c_str());
	if (!dir)
		return;
	while (const dirent *entry = readdir(dir)) {
		std::string name = entry->d_name;
		if (name != "." && name != "..")
			collect(path + "/" + name, files);
	}
	closedir(dir);
}

} // namespace

int main(int argc, char **argv)
{
	if (LLVMFuzzerInitialize)
		LLVMFuzzerInitialize(&argc, &argv);
	std::vector<std::string> files;
	for (int i = 1; i < argc; i++)
		collect(argv[i], files);
	std::sort(files.begin(), files.end());
	if (files.empty()) {
		fprintf(stderr, "replay: no input to run\n");
		return 1;
	}
	for (const std::string &file : files) {
		std::ifstream in(file, std::ios::binary);
		std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
		                           std::istreambuf_iterator<char>());
		fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
		// A copy of exactly the input's size, so that reading past its end
		// is caught as it is under libFuzzer.
		uint8_t *copy = new uint8_t[bytes.size() ? bytes.size() : 1];
		std::copy(bytes.begin(), bytes.end(), copy);
		LLVMFuzzerTestOneInput(copy, bytes.size());
		delete[] copy;
	}
	fprintf(stderr, "replay: %zu inputs ran\n", files.size());
	return 0;
}
