#include "core/vistrad_path.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>

TEST(VistradPath, PrefixesAbsolutePathsWithTheRoot)
{
	struct {
		const char *root;
		const char *path;
		const char *expected;
	} cases[] = {
	    {nullptr, "/etc/vistrad/vistrad.conf", "/etc/vistrad/vistrad.conf"},
	    {"", "/etc/dynamic/vistrad/ip.db", "/etc/dynamic/vistrad/ip.db"},
	    {"/tmp/root", "/etc/dynamic/vistrad/ip.db", "/tmp/root/etc/dynamic/vistrad/ip.db"},
	    {"/tmp/root", "relative/file", "relative/file"},
	};
	for (const auto &c : cases) {
		if (c.root)
			setenv("VISTRAD_ROOT", c.root, 1);
		else
			unsetenv("VISTRAD_ROOT");
		char *p = vistrad_path(c.path);
		EXPECT_STREQ(p, c.expected) << (c.root ? c.root : "(unset)") << " " << c.path;
		g_free(p);
	}
	unsetenv("VISTRAD_ROOT");
	EXPECT_EQ(vistrad_path(nullptr), nullptr);
}
