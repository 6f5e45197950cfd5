#include <gtest/gtest.h>

#include <glib.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/prodconf.h"
#include "core/prodconf_crypt.h"
#include "core/prodconf_startup.h"
#include "core/prodconf_tree.h"
#include "log_capture.h"
#include "prodconf_builder.h"

namespace
{

std::vector<std::string> startup_syslog;

void capture_syslog(int priority, const char *message)
{
	startup_syslog.push_back(std::to_string(priority) + " " + message);
}

std::string fixture(const char *name)
{
	char *text = nullptr;
	std::string path = std::string(PRODCONF_DATA_DIR) + "/" + name;
	EXPECT_TRUE(g_file_get_contents(path.c_str(), &text, nullptr, nullptr)) << path;
	std::string out = text ? text : "";
	g_free(text);
	return out;
}

void remove_tree(const std::string &path)
{
	GDir *dir = g_dir_open(path.c_str(), 0, nullptr);
	if (dir) {
		while (const char *name = g_dir_read_name(dir))
			remove_tree(path + "/" + name);
		g_dir_close(dir);
	}
	remove(path.c_str());
}

int init_calls;
int count_init(prodconf *, control *engine, int32_t argument)
{
	EXPECT_EQ(nullptr, engine);
	EXPECT_EQ(-1, argument);
	init_calls++;
	return 0;
}

// A temporary root holding /etc/vistrad and /usr/lib/vistrad.
class Load : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/prodconf-XXXXXX";
		root = mkdtemp(tmpl);
		setenv("VISTRAD_ROOT", root.c_str(), 1);
		g_mkdir_with_parents((root + "/etc/vistrad").c_str(), 0755);
		g_mkdir_with_parents((root + "/usr/lib/vistrad").c_str(), 0755);
		g_mkdir_with_parents((root + "/var/lib/keelstone").c_str(), 0755);
		startup_syslog.clear();
		old_syslog = prodconf_startup_set_syslog(capture_syslog);
		conf = prodconf_new();
		prodconf_add_function(conf, "count_init", (prodconf_func)count_init);
		init_calls = 0;
	}
	void TearDown() override
	{
		prodconf_free(conf);
		prodconf_startup_set_syslog(old_syslog);
		unsetenv("VISTRAD_ROOT");
		remove_tree(root);
	}
	void write(const std::string &relative, const std::string &text)
	{
		ASSERT_TRUE(g_file_set_contents((root + relative).c_str(), text.data(), (gssize)text.size(),
		                                nullptr));
	}
	void write_bytes(const std::string &relative, const std::vector<unsigned char> &bytes)
	{
		ASSERT_TRUE(g_file_set_contents((root + relative).c_str(),
		                                reinterpret_cast<const char *>(bytes.data()),
		                                (gssize)bytes.size(), nullptr));
	}
	void boot_params(const std::string &text)
	{
		write("/var/lib/keelstone/params", text);
	}
	// Loads and returns what went to standard error.
	std::string load(int expected = 0)
	{
		testing::internal::CaptureStderr();
		EXPECT_EQ(expected, prodconf_load(conf));
		return testing::internal::GetCapturedStderr();
	}
	std::string tree()
	{
		return pc_tree_text(conf->root);
	}
	std::string root;
	prodconf_startup_syslog_fn old_syslog = nullptr;
	prodconf *conf = nullptr;
};

std::vector<unsigned char> encrypt(const std::string &text)
{
	unsigned char *image = nullptr;
	size_t length = 0;
	EXPECT_EQ(0, prodconf_encrypt_buffer(text.data(), text.size(), &image, &length));
	std::vector<unsigned char> out(image, image + length);
	g_free(image);
	return out;
}

const char camera_tree[] =
    "ROOT{INHERITS{INHERIT} MACROS{GAIN[4] FAMILY[2]} PRODCONF_INIT[count_init] "
    "PRODUCT_CONSTANTS{product_constants{channels=0,1 image_sources=2 calibration_path[/lib/persistent/cal] "
    "HWID_7a{flip_image=1} CHANNEL1{hw_channel=3}} area_config{xstart=0 ystart=0 xstop=1919 ystop=1079}} "
    "SENSOR[5]{model[imx]} "
    "SENSOR_SETTINGS{gain[GAIN] exposures{-{time[10] gain[1]} -{time[20]}} modes[1080P_30FPS,720P_30FPS] "
    "gain[9] only_in_family[1]} "
    "DBUS_API_CONFIG{qorex_legacy_api_config iris_params[true]}}";

TEST_F(Load, CameraModelWithInheritanceMacrosAndConstants)
{
	write("/usr/lib/vistrad/vistrad.enc", "");
	write("/usr/lib/vistrad/vistrad.yaml", fixture("camera.yaml"));
	write("/usr/lib/vistrad/family.yaml", fixture("family.yaml"));
	boot_params("HWID=7a\n");
	std::string err = load();
	EXPECT_EQ("", err);
	EXPECT_EQ(camera_tree, tree());
	EXPECT_EQ(1, conf->config_present);
	EXPECT_EQ(1, conf->use_stream);
	EXPECT_EQ(1, init_calls);

	// The product's own value wins over the family's; the family fills gaps.
	int32_t gain = 0;
	prodconf_field f = {};
	f.key = "gain";
	f.kind = PRODCONF_INT;
	ASSERT_TRUE(prodconf_read_entry(conf, "SENSOR_SETTINGS", &f, 0, &gain, nullptr));
	EXPECT_EQ(4, gain); // through the macro GAIN
	f.key = "only_in_family";
	ASSERT_TRUE(prodconf_read_entry(conf, "SENSOR_SETTINGS", &f, 0, &gain, nullptr));
	EXPECT_EQ(1, gain);

	const prodconf_product_constants *c0 = &conf->constants[0];
	ASSERT_EQ(2u, c0->channel_count);
	EXPECT_EQ(1, c0->channels[1]);
	EXPECT_EQ(2, c0->image_sources);
	EXPECT_EQ(1, c0->flip_image); // HWID_7a holds
	EXPECT_EQ(0, c0->hw_channel);
	EXPECT_STREQ("/lib/persistent/cal", c0->calibration_path);
	EXPECT_EQ(32, c0->stats_block_width);
	EXPECT_EQ(3, conf->constants[1].hw_channel); // CHANNEL1 holds only there
	EXPECT_EQ(1919, conf->channel[0].area[0].xstop);
	EXPECT_EQ(1079, conf->channel[7].area[0].ystop);
	EXPECT_EQ(2, prodconf_channel_count(conf));
	EXPECT_EQ(1, conf->constants[0].plt_input_mode);
	EXPECT_EQ(0, prodconf_video_control(conf));

	GList *streams = conf->stream_list(conf);
	ASSERT_EQ(2u, g_list_length(streams));
	EXPECT_EQ(256, GPOINTER_TO_INT(streams->next->data));
	g_list_free(streams);
	intptr_t v = -1;
	EXPECT_TRUE(prodconf_lookup_constant(conf, "DUAL_EXPOSURE_STREAM_MERGED", &v));
	EXPECT_EQ(2, v);
}

TEST_F(Load, EncryptedFormLoadsToTheSameTree)
{
	std::string enc = root + "/usr/lib/vistrad/vistrad.enc";
	std::string yaml = root + "/camera.yaml";
	write("/camera.yaml", fixture("camera.yaml"));
	std::string command = std::string(PRODCONF_ENCRYPT_TOOL) + " " + yaml + " " + enc;
	ASSERT_EQ(0, system(command.c_str()));
	write("/usr/lib/vistrad/family.yaml", fixture("family.yaml"));
	boot_params("HWID=7a\n");
	EXPECT_EQ("", load());
	EXPECT_EQ(camera_tree, tree());
	EXPECT_EQ(1, conf->constants[0].flip_image);
}

TEST_F(Load, ExtraConfigurationIsPreferred)
{
	write("/usr/lib/vistrad/vistrad.yaml", "WHO: base\n");
	write("/usr/lib/vistrad/vistrad.enc", "");
	write_bytes("/etc/vistrad/extra.enc", encrypt("WHO: extra-encrypted\n"));
	boot_params("HWID=1\n");
	load();
	EXPECT_EQ("ROOT{WHO[extra-encrypted]}", tree());

	write("/etc/vistrad/extra.yaml", "WHO: extra-plain\n");
	prodconf_free(conf);
	conf = prodconf_new();
	load();
	EXPECT_EQ("ROOT{WHO[extra-plain]}", tree());
}

TEST_F(Load, NoConfigurationIsReported)
{
	std::string err = load(-1);
	EXPECT_EQ("No product configuration found!\n", err);
	ASSERT_EQ(1u, startup_syslog.size());
	EXPECT_EQ(std::to_string(LOG_ERR) + " No product configuration found!\n", startup_syslog[0]);
	EXPECT_EQ(0, conf->config_present);
	EXPECT_EQ(0, conf->use_stream);
	EXPECT_EQ(nullptr, conf->stream_list);
	EXPECT_EQ(1, prodconf_channel_count(conf));
	EXPECT_EQ(12, conf->constants[5].ipp_pixel_width);
	EXPECT_EQ(7, conf->constants[5].i2c_algorithm);
}

TEST_F(Load, InheritanceCyclesAndMissingFilesAreSkipped)
{
	write("/usr/lib/vistrad/vistrad.enc", "");
	write("/usr/lib/vistrad/vistrad.yaml", fixture("cycle_a.yaml"));
	write("/usr/lib/vistrad/cycle_b.yaml", fixture("cycle_b.yaml"));
	write("/usr/lib/vistrad/cycle_a.yaml", fixture("cycle_a.yaml"));
	std::string err = load();
	// cycle_a under its own name is a new file; its second visit is refused.
	EXPECT_EQ("ROOT{INHERIT A[1,1] B[2]}", tree());
	EXPECT_NE(std::string::npos, err.find("Prodconf_parser: Unknown filename missing_one\n")) << err;
	EXPECT_NE(std::string::npos, err.find("/usr/lib/vistrad/cycle_b.yaml was read already")) << err;
	EXPECT_NE(std::string::npos,
	          err.find("prodconf_load_keelstone_state: Failed to read HWID keelstone param"));
}

// Each candidate of an inherited name in turn: removing the winner shows the next.
TEST_F(Load, InheritedNamesAreSearchedInOrder)
{
	char *old_cwd = g_get_current_dir();
	ASSERT_EQ(0, chdir(root.c_str()));
	const char *candidates[] = {"/base.yaml",
	                            "/base.enc",
	                            "/base",
	                            "/usr/lib/vistrad/base.yaml",
	                            "/usr/lib/vistrad/base.enc",
	                            "/usr/lib/vistrad/base"};
	for (const char *c : candidates) {
		std::string text = std::string("WHO: ") + c + "\n";
		if (g_str_has_suffix(c, ".enc"))
			write_bytes(c, encrypt(text));
		else
			write(c, text);
	}
	write("/usr/lib/vistrad/vistrad.enc", "");
	write("/usr/lib/vistrad/vistrad.yaml", "INHERIT: [base.yaml]\n");
	for (const char *c : candidates) {
		SCOPED_TRACE(c);
		prodconf_free(conf);
		conf = prodconf_new();
		load();
		EXPECT_EQ(std::string("ROOT{INHERIT WHO[") + c + "]}", tree());
		remove((root + c).c_str());
	}
	EXPECT_EQ(0, chdir(old_cwd));
	g_free(old_cwd);
}

TEST_F(Load, DaemonSettingsFromProductConstants)
{
	write("/usr/lib/vistrad/vistrad.enc", "");
	write("/usr/lib/vistrad/vistrad.yaml",
	      "PRODUCT_CONSTANTS:\n  video_control: true\n  product_constants:\n    channels: [2]\n"
	      "    plt_input_mode: platform_parallel_sensor\n");
	prodconf_add_constant(conf, "platform_parallel_sensor", 5);
	load();
	EXPECT_EQ(1, prodconf_video_control(conf));
	EXPECT_EQ(3, prodconf_channel_count(conf));
	EXPECT_EQ(5, conf->constants[0].plt_input_mode);
	GList *streams = conf->stream_list(conf);
	ASSERT_EQ(1u, g_list_length(streams));
	EXPECT_EQ(512, GPOINTER_TO_INT(streams->data));
	g_list_free(streams);
	// No area record: every channel keeps a zero area.
	EXPECT_EQ(0, conf->channel[0].area[0].xstop);
}

// A channel outside 0 to 7 is left out with a word; the rest still loads.
TEST_F(Load, ForeignChannelsAreLeftOut)
{
	write("/usr/lib/vistrad/vistrad.enc", "");
	const char *cases[][3] = {
	    {"0x7fffffff", "2147483647", "256,512"},
	    {"0x1000000", "16777216", "256,512"},
	    {"300", "300", "256,512"},
	    {"-1", "-1", "256,512"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c[0]);
		prodconf_free(conf);
		conf = prodconf_new();
		write("/usr/lib/vistrad/vistrad.yaml",
		      std::string("PRODUCT_CONSTANTS:\n  product_constants:\n") + "    channels: [1, " +
		          c[0] + ", 2]\n    image_sources: 2\n");
		std::string err = load();
		EXPECT_NE(std::string::npos,
		          err.find("Prodconf: " + root + "/usr/lib/vistrad/vistrad.enc: channel " + c[1] +
		                   " is not one of 0 to 7, left out\n"))
		    << err;
		EXPECT_EQ(3, prodconf_channel_count(conf));
		EXPECT_EQ(2, conf->constants[0].image_sources);
		std::string streams;
		GList *list = conf->stream_list(conf);
		for (GList *l = list; l; l = l->next)
			streams += (streams.empty() ? "" : ",") + std::to_string(GPOINTER_TO_INT(l->data));
		g_list_free(list);
		EXPECT_EQ(c[2], streams);
	}
}

TEST_F(Load, BootParameterChoosesTheBlock)
{
	write("/usr/lib/vistrad/vistrad.enc", "");
	write("/usr/lib/vistrad/vistrad.yaml",
	      "S:\n  HWID_1:\n    k: one\n  HWID_2:\n    k: two\n  OPTICS_x:\n    o: 1\n");
	const char *cases[][3] = {{"HWID=2\n", "two", "none"}, {"HWID=1\nOPTICS=x\n", "one", "1"}};
	for (auto &c : cases) {
		SCOPED_TRACE(c[0]);
		prodconf_free(conf);
		conf = prodconf_new();
		boot_params(c[0]);
		load();
		prodconf_node *s = prodconf_section(conf, "S");
		prodconf_node *k = prodconf_find_node(conf, s, "k", 0);
		ASSERT_NE(nullptr, k);
		EXPECT_STREQ(c[1], k->values[0]);
		prodconf_node *o = prodconf_find_node(conf, s, "o", 0);
		EXPECT_EQ(std::string(c[2]), o ? o->values[0] : "none");
	}
}

TEST_F(Load, MacroRedefinitionAndFunctionLists)
{
	write("/usr/lib/vistrad/vistrad.enc", "");
	write("/usr/lib/vistrad/vistrad.yaml",
	      "MACROS:\n  M: 1\n  M: 2\nPRODCONF_INIT: [count_init, nobody]\nX:\n  v: M\n  w: OTHER\n");
	std::string err = load();
	EXPECT_NE(std::string::npos, err.find("Prodconf: Macro M has new meaning 2\n")) << err;
	EXPECT_NE(std::string::npos, err.find("Prodconf: no association for PRODCONF_INIT: nobody found\n"))
	    << err;
	EXPECT_EQ(1, init_calls);
	prodconf_field f = {};
	f.key = "v";
	f.kind = PRODCONF_INT;
	int32_t v = 0;
	ASSERT_TRUE(prodconf_read_entry(conf, "X", &f, 0, &v, nullptr));
	EXPECT_EQ(2, v);
	char *text = nullptr;
	f.key = "w";
	f.kind = PRODCONF_STRING;
	ASSERT_TRUE(prodconf_read_entry(conf, "X", &f, 0, &text, nullptr));
	EXPECT_STREQ("OTHER", text);
	g_free(text);
}

// Texts the format does not support still load without harm.
TEST_F(Load, OddYamlIsToleratedAsSpecified)
{
	struct {
		const char *text;
		const char *tree;
		const char *message;
	} cases[] = {
	    {"A: !!str x\n", "ROOT{A[x]}", "Tags are unsupported, got !str\n"},
	    {"A: &anchor 1\nB: *anchor\n", "ROOT{A[1] B}", nullptr},
	    {"A:\n- x\n- y\n", "ROOT{A[x,y]}", nullptr},
	    {"A:\n  - k: 1\n  - k: 2\n", "ROOT{A{-{k[1]} -{k[2]}}}", nullptr},
	    {"", "ROOT", nullptr},
	    {"just a scalar\n", "ROOT[just a scalar]", nullptr},
	    {"A: [1, 2]\nA:\n  B: 3\n", "ROOT{A[1,2]{B[3]}}", nullptr},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.text);
		prodconf_free(conf);
		conf = prodconf_new();
		write("/usr/lib/vistrad/vistrad.enc", "");
		write("/usr/lib/vistrad/vistrad.yaml", c.text);
		std::string err = load();
		EXPECT_EQ(c.tree, tree());
		if (c.message) {
			EXPECT_NE(std::string::npos, err.find(c.message)) << err;
		}
	}
}

TEST_F(Load, YamlSyntaxErrorEndsStartUp)
{
	write("/usr/lib/vistrad/vistrad.enc", "");
	write("/usr/lib/vistrad/vistrad.yaml", "A:\n  B: \"unterminated\n");
	EXPECT_EXIT(prodconf_load(conf), ::testing::ExitedWithCode(1),
	            "Prodconf: could not parse YAML file\n(.|\n)*Corrupt configuration\n");
}

// Damaged texts: each either loads what it can or ends start-up, and never
// crashes or takes one key's text as another's value.
TEST_F(Load, DamagedYamlLoadsTheRestOrEndsStartUp)
{
	std::string deep;
	for (int i = 0; i < 500; i++)
		deep += std::string((size_t)i * 2, ' ') + "k" + std::to_string(i) + ":\n";
	deep += std::string(1000, ' ') + "leaf: 1\nAFTER: 2\n";
	struct {
		const char *name;
		std::string text;
		const char *tree; // null: start-up ends
	} cases[] = {
	    {"empty key, then a dedent", "A:\n  ?\n A", "ROOT{A{-}}"},
	    {"empty key, then the section again", "A:\n  ?\n A\nA:\n  b: 1\n", "ROOT{A{- b[1]}}"},
	    {"flow sequence cut at the end", "A: [1, 2", nullptr},
	    {"flow sequence cut before the next key", "A: [1, 2\nB: 3\n", nullptr},
	    {"nested flow sequence cut", "A: [1, [2, 3]\n", nullptr},
	    {"flow sequence opened only", "A: [\n", nullptr},
	    {"flow mapping cut", "A: {b: 1\n", nullptr},
	    {"key without a colon at the end", "A: 1\nB: 2\nC", nullptr},
	    {"key without a colon, with a line end", "A: 1\nC\n", nullptr},
	    {"deep nesting", deep, "deep"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		prodconf_free(conf);
		conf = prodconf_new();
		write("/usr/lib/vistrad/vistrad.enc", "");
		write("/usr/lib/vistrad/vistrad.yaml", c.text);
		if (!c.tree) {
			EXPECT_EXIT(prodconf_load(conf), ::testing::ExitedWithCode(1),
			            "Prodconf: could not parse YAML file\n(.|\n)*Corrupt configuration\n");
			continue;
		}
		load();
		if (c.text != deep) {
			EXPECT_EQ(c.tree, tree());
			continue;
		}
		prodconf_node *leaf = prodconf_section(conf, "k0");
		ASSERT_NE(nullptr, leaf);
		int depth = 0;
		for (; leaf->first_child; depth++)
			leaf = leaf->first_child;
		EXPECT_EQ(500, depth);
		EXPECT_STREQ("leaf", leaf->key);
		ASSERT_NE(nullptr, leaf->values);
		EXPECT_STREQ("1", leaf->values[0]);
		EXPECT_NE(nullptr, prodconf_section(conf, "AFTER"));
	}
}

// Damaged encrypted files are refused before anything is parsed.
TEST_F(Load, DamagedEncryptedFilesAreRefused)
{
	std::vector<unsigned char> good = encrypt("GOOD: 1\nAND: 2\nMORE: 333\n");
	std::vector<unsigned char> flipped_digest = good;
	flipped_digest.back() ^= 1;
	std::vector<unsigned char> flipped_cipher = good;
	flipped_cipher[15] ^= 0x80; // the last padding byte, through CBC chaining
	std::vector<unsigned char> truncated(good.begin(), good.begin() + 47);
	std::vector<unsigned char> ragged = good;
	ragged.erase(ragged.begin());
	std::vector<unsigned char> garbage(64, 0xa5);
	struct {
		const char *name;
		std::vector<unsigned char> bytes;
		const char *message;
	} cases[] = {
	    {"digest", flipped_digest, "Couldn't verify decrypted data in file.\n"},
	    {"padding", flipped_cipher, "Error removing padding bytes.\nCouldn't decrypt data in file.\n"},
	    {"truncated", truncated, "Couldn't decrypt data in file.\n"},
	    {"empty", {}, "Couldn't decrypt data in file.\n"},
	    {"ragged", ragged, "Couldn't decrypt data.\nCouldn't decrypt data in file.\n"},
	    {"garbage", garbage, " in file.\n"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		prodconf_free(conf);
		conf = prodconf_new();
		write_bytes("/usr/lib/vistrad/vistrad.enc", c.bytes);
		std::string err = load();
		EXPECT_NE(std::string::npos, err.find(c.message)) << err;
		EXPECT_EQ("ROOT", tree());
	}
}

TEST(StartupLog, EveryMessageEndsItsLine)
{
	prodconf_startup_syslog_fn old = prodconf_startup_set_syslog(capture_syslog);
	startup_syslog.clear();
	testing::internal::CaptureStderr();
	prodconf_startup_warning("%s: state %s already added to hash", "f", "HWID");
	prodconf_startup_error("ended\n");
	EXPECT_EQ("f: state HWID already added to hash\nended\n", testing::internal::GetCapturedStderr());
	EXPECT_EQ(std::to_string(LOG_WARNING) + " f: state HWID already added to hash", startup_syslog.at(0));
	prodconf_startup_set_syslog(old);
}

TEST(ProdconfCrypt, PaddingAndDigest)
{
	prodconf_startup_syslog_fn old = prodconf_startup_set_syslog(capture_syslog);
	// A text of whole blocks carries a full block of padding.
	std::string text(32, 'x');
	std::vector<unsigned char> image = encrypt(text);
	ASSERT_EQ(32u + 16u + 32u, image.size());
	size_t length = 48;
	std::vector<unsigned char> copy = image;
	ASSERT_EQ(0, prodconf_decrypt_buffer(copy.data(), &length));
	EXPECT_EQ(32u, length);
	EXPECT_EQ(text, std::string(copy.begin(), copy.begin() + 32));
	EXPECT_EQ(0, prodconf_verify_digest(copy.data(), length, image.data() + 48));
	EXPECT_NE(0, prodconf_verify_digest(copy.data(), length - 1, image.data() + 48));
	EXPECT_EQ(-1, prodconf_verify_digest(copy.data(), 15, image.data() + 48));
	EXPECT_EQ(-1, prodconf_verify_digest(copy.data(), length, nullptr));

	// Padding bytes of 0 and 17 are refused; so is a short buffer.
	for (unsigned char pad : {0, 17}) {
		unsigned char plain[16];
		memset(plain, pad, sizeof(plain));
		unsigned char *enc = nullptr;
		size_t enc_length = 0;
		// Encrypt one raw block with no padding by cutting the tool's output.
		ASSERT_EQ(0, prodconf_encrypt_buffer(plain, sizeof(plain), &enc, &enc_length));
		size_t one = 16;
		testing::internal::CaptureStderr();
		EXPECT_EQ(-1, prodconf_decrypt_buffer(enc, &one));
		EXPECT_EQ("Error removing padding bytes.\n", testing::internal::GetCapturedStderr());
		g_free(enc);
	}
	size_t short_length = 8;
	EXPECT_EQ(-1, prodconf_decrypt_buffer_guarded(copy.data(), &short_length));
	char *out = reinterpret_cast<char *>(1);
	size_t out_length = 1;
	EXPECT_EQ(-1, prodconf_read_encrypted_file("/nonexistent/file.enc", &out, &out_length));
	EXPECT_EQ(nullptr, out);
	EXPECT_EQ(0u, out_length);
	prodconf_startup_set_syslog(old);
}

} // namespace
