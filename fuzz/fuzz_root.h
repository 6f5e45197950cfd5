// A root prefix of the fuzz target's own for the daemon's fixed paths, in
// memory when /dev/shm is there. Removed when the program ends.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace fuzz
{

inline void remove_tree(const std::string &path)
{
	std::string command = "rm -rf '" + path + "'";
	if (system(command.c_str()) != 0)
		fprintf(stderr, "fuzz: could not remove %s\n", path.c_str());
}

class Root
{
      public:
	// Makes the folder and points VISTRAD_ROOT at it.
	Root(const char *name)
	{
		for (const char *base : {"/dev/shm", "/tmp"}) {
			std::string tmpl = std::string(base) + "/" + name + "-XXXXXX";
			if (mkdtemp(&tmpl[0])) {
				path_ = tmpl;
				break;
			}
		}
		if (path_.empty())
			abort();
		setenv("VISTRAD_ROOT", path_.c_str(), 1);
		owner_ = getpid();
	}
	~Root()
	{
		// Children of a forked test must not take the parent's folder.
		if (getpid() == owner_)
			remove_tree(path_);
	}
	const std::string &path() const
	{
		return path_;
	}
	std::string at(const std::string &relative) const
	{
		return path_ + relative;
	}
	void mkdirs(const std::string &relative) const
	{
		std::string full = path_;
		size_t start = 1;
		while (start <= relative.size()) {
			size_t end = relative.find('/', start);
			if (end == std::string::npos)
				end = relative.size();
			full = path_ + relative.substr(0, end);
			mkdir(full.c_str(), 0755);
			start = end + 1;
		}
	}
	void write(const std::string &relative, const void *data, size_t size) const
	{
		FILE *file = fopen(at(relative).c_str(), "wb");
		if (!file)
			abort();
		if (size && fwrite(data, 1, size, file) != size)
			abort();
		fclose(file);
	}
	void write(const std::string &relative, const std::string &text) const
	{
		write(relative, text.data(), text.size());
	}
	void remove(const std::string &relative) const
	{
		unlink(at(relative).c_str());
	}

      private:
	std::string path_;
	pid_t owner_ = 0;
};

// The input cut into pieces at every occurrence of a separator.
inline std::vector<std::string> split(const uint8_t *data, size_t size, const std::string &separator)
{
	std::vector<std::string> pieces;
	std::string all(reinterpret_cast<const char *>(data), size);
	size_t start = 0;
	for (;;) {
		size_t at = all.find(separator, start);
		if (at == std::string::npos) {
			pieces.push_back(all.substr(start));
			return pieces;
		}
		pieces.push_back(all.substr(start, at - start));
		start = at + separator.size();
	}
}

} // namespace fuzz
