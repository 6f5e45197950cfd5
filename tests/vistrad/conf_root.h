#pragma once
// A temporary root file system for a test (VISTRAD_ROOT) with the folders of
// the product configuration and the boot parameters, removed at the end.

#include <gtest/gtest.h>

#include <glib.h>
#include <stdlib.h>

#include <string>

#include "core/prodconf.h"

class ConfRoot
{
      public:
	explicit ConfRoot(const char *tag)
	{
		std::string tmpl = std::string("/tmp/") + tag + "-XXXXXX";
		path = mkdtemp(&tmpl[0]);
		setenv("VISTRAD_ROOT", path.c_str(), 1);
		for (const char *dir : {"/etc/vistrad", "/var/lib/keelstone"})
			g_mkdir_with_parents((path + dir).c_str(), 0755);
		write("/var/lib/keelstone/params", "HWID=7a\n");
	}
	~ConfRoot()
	{
		std::string cmd = "rm -rf '" + path + "'";
		EXPECT_EQ(0, system(cmd.c_str()));
		unsetenv("VISTRAD_ROOT");
	}
	ConfRoot(const ConfRoot &) = delete;
	ConfRoot &operator=(const ConfRoot &) = delete;

	// Writes a file below the root, making its folder.
	void write(const std::string &relative, const std::string &text)
	{
		std::string file = path + relative;
		char *dir = g_path_get_dirname(file.c_str());
		g_mkdir_with_parents(dir, 0755);
		g_free(dir);
		EXPECT_TRUE(g_file_set_contents(file.c_str(), text.data(), (gssize)text.size(), nullptr))
		    << file;
	}
	// Loads the text as the product configuration; what the loader wrote to
	// standard error.
	std::string load(prodconf *conf, const std::string &yaml)
	{
		write("/etc/vistrad/extra.enc", "");
		write("/etc/vistrad/extra.yaml", yaml);
		testing::internal::CaptureStderr();
		EXPECT_EQ(0, prodconf_load(conf));
		return testing::internal::GetCapturedStderr();
	}

	std::string path;
};
