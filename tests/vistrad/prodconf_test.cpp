#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/control.h"
#include "core/prodconf.h"
#include "core/prodconf_tree.h"
#include "log_capture.h"
#include "optics/focus_zoom.h"
#include "optics/ircut.h"
#include "optics/iris.h"
#include "optics/light_sensor.h"
#include "platform/datacache.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "platform/sensor.h"
#include "platform/stabilizer.h"
#include "prodconf_builder.h"

namespace
{

void *make_nothing(prodconf *, control *, int32_t)
{
	return nullptr;
}

class Prodconf : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		conf = prodconf_new();
		// Two lens blocks: the first gets state value 0, the second 1.
		prodconf_default_add_item(conf, "camblock_one", make_nothing, nullptr, nullptr, 1,
		                          PRODCONF_STATE_CAMBLOCK);
		prodconf_default_add_item(conf, "camblock_two", make_nothing, nullptr, nullptr, 1,
		                          PRODCONF_STATE_CAMBLOCK);
		prodconf_add_boot_state(conf, "HWID", "7a");
	}
	void TearDown() override
	{
		prodconf_free(conf);
	}

	std::string find(prodconf_node *start, const char *key, int32_t stream = 0)
	{
		prodconf_node *n = prodconf_find_node(conf, start, key, stream);
		if (!n)
			return "none";
		return n->values ? n->values[0] : n->key;
	}

	std::string names(const char *section, int32_t stream = 0)
	{
		size_t n = 0;
		char **list = prodconf_get_child_names(conf, section, stream, &n);
		std::string out;
		for (size_t i = 0; list && i < n; i++)
			out += std::string(i ? " " : "") + list[i];
		g_strfreev(list);
		return out;
	}

	LogCapture log;
	prodconf *conf = nullptr;
};

TEST_F(Prodconf, NewObjectStartsUnset)
{
	for (int c = 0; c < PRODCONF_CHANNELS; c++)
		for (uint32_t t = 0; t < PRODCONF_STATE_TYPES; t++)
			EXPECT_EQ(t == PRODCONF_STATE_CHANNEL ? (uint32_t)c : PRODCONF_STATE_UNSET,
			          prodconf_get_state(conf, c, t));
	const prodconf_state *s = prodconf_lookup_state(conf, "CAPTURE_FREQUENCY_50HZ");
	ASSERT_NE(nullptr, s);
	EXPECT_EQ(3u, s->type);
	EXPECT_EQ(1u, s->value);
	s = prodconf_lookup_state(conf, "1080P_120FPS");
	ASSERT_NE(nullptr, s);
	EXPECT_EQ(13u, s->value);
	EXPECT_EQ(1u, prodconf_lookup_state(conf, "camblock_two")->value);
	EXPECT_EQ(9u, prodconf_lookup_state(conf, "camblock_two")->type);
	prodconf_free(nullptr);
}

// The visibility table: a block keyed by a module's state name, with the
// channel's state unset, set to that module, and set to another module.
TEST_F(Prodconf, ConditionalBlocksFollowTheChannelState)
{
	prodconf_node *s = pc_section(conf, "S");
	prodconf_node *block = pc_node(s, "camblock_one");
	pc_node(block, "zoom", {"inside"});
	pc_node(block, "only_inside", {"x"});
	pc_node(s, "zoom", {"outside"});
	pc_node(s, "plain", {"p"});

	struct {
		uint32_t state;
		const char *zoom;
		const char *only_inside;
		const char *children;
	} cases[] = {
	    {PRODCONF_STATE_UNSET, "inside", "x", "zoom only_inside plain"},
	    {PRODCONF_STATE_NONE, "inside", "x", "zoom only_inside plain"},
	    {0, "inside", "x", "zoom only_inside plain"},
	    {1, "outside", "none", "zoom plain"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.state);
		prodconf_set_state(conf, 0, PRODCONF_STATE_CAMBLOCK, c.state);
		EXPECT_EQ(c.zoom, find(s, "zoom"));
		EXPECT_EQ(c.only_inside, find(s, "only_inside"));
		EXPECT_EQ(c.children, names("S"));
	}
	// Another channel keeps its own state.
	prodconf_set_state(conf, 0, PRODCONF_STATE_CAMBLOCK, 1);
	EXPECT_EQ("inside", find(s, "zoom", 0x100));
	// A block is found by its own key whether or not it holds.
	EXPECT_EQ("camblock_one", find(s, "camblock_one"));
}

TEST_F(Prodconf, SearchOrderAndBootParameterBlocks)
{
	prodconf_node *s = pc_section(conf, "S");
	pc_node(s, "gain", {"first"});
	pc_node(pc_node(s, "HWID_7a"), "gain", {"hw"});
	pc_node(pc_node(s, "HWID_99"), "other", {"no"});
	pc_node(pc_node(s, "CAPTURE_FREQUENCY_50HZ"), "freq", {"50"});
	pc_node(s, "freq", {"plain"});

	EXPECT_EQ("first", find(s, "gain"));
	EXPECT_EQ("none", find(s, "other"));
	EXPECT_TRUE(prodconf_is_restriction_key(conf, "HWID_99"));
	EXPECT_FALSE(prodconf_is_restriction_key(conf, "OPTICS_1"));
	EXPECT_FALSE(prodconf_is_restriction_key(conf, "_HWID"));

	const char *freq_cases[][2] = {
	    {nullptr, "50"}, {"CAPTURE_FREQUENCY_50HZ", "50"}, {"CAPTURE_FREQUENCY_60HZ", "plain"}};
	for (auto &c : freq_cases) {
		if (c[0])
			prodconf_set_state(conf, 0, PRODCONF_STATE_CAPTURE_FREQUENCY,
			                   prodconf_lookup_state(conf, c[0])->value);
		EXPECT_EQ(c[1], find(s, "freq")) << (c[0] ? c[0] : "unset");
	}

	GList *all = prodconf_find_all(conf, s, "gain", 0, nullptr);
	ASSERT_EQ(2u, g_list_length(all));
	EXPECT_STREQ("hw", static_cast<prodconf_node *>(all->next->data)->values[0]);
	g_list_free(all);
}

TEST_F(Prodconf, NodeAccessDeduplicatesVisibleKeys)
{
	prodconf_node *s = pc_section(conf, "S");
	pc_node(pc_node(s, "camblock_one"), "k", {"a"});
	pc_node(pc_node(s, "HWID_7a"), "k", {"b"});
	pc_node(s, "floats", {"1.5", "1/4"});
	pc_node(s, "two", {"x", "y"});

	prodconf_node_handle *h = prodconf_get_node(conf, "S", 0);
	ASSERT_NE(nullptr, h);
	prodconf_node_iter *it = prodconf_get_child_nodes(conf, h, 0);
	std::vector<std::string> keys;
	while (prodconf_node_handle *c = prodconf_node_iter_next(conf, it)) {
		keys.push_back(c->key);
		if (keys.size() == 1) {
			char *v = prodconf_node_get_string(conf, c, 0);
			EXPECT_STREQ("a", v);
			g_free(v);
		}
		prodconf_node_handle_free(c);
	}
	prodconf_node_iter_free(it);
	EXPECT_EQ((std::vector<std::string>{"k", "floats", "two"}), keys);

	prodconf_node_handle *f = prodconf_get_child_node(conf, h, "floats", 0);
	float *values = nullptr;
	ASSERT_EQ(2u, prodconf_node_get_floats(conf, f, 0, &values));
	EXPECT_FLOAT_EQ(0.25f, values[1]);
	g_free(values);
	prodconf_node_handle_free(f);

	prodconf_node_handle *two = prodconf_get_child_node(conf, h, "two", 0);
	EXPECT_EQ(nullptr, prodconf_node_get_string(conf, two, 0));
	EXPECT_NE(std::string::npos,
	          log.text().find("Multiple values (2) in key two, expected single string"));
	prodconf_node_handle_free(two);
	EXPECT_EQ(nullptr, prodconf_get_child_node(conf, h, "missing", 0));
	prodconf_node_handle_free(h);
	EXPECT_EQ(nullptr, prodconf_get_node(conf, "NOPE", 0));
	EXPECT_EQ(nullptr, prodconf_get_child_names(conf, "NOPE", 0, nullptr));
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: unknown item NOPE"));
}

TEST_F(Prodconf, RegistriesWarnOnReplacement)
{
	prodconf_add_constant(conf, "C", 1);
	prodconf_add_constant(conf, "C", 1);
	EXPECT_EQ("", log.text());
	prodconf_add_constant(conf, "C", 2);
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: key C already exist hash"));
	EXPECT_NE(std::string::npos, log.text().find("replacing value 0x1 with 0x2"));
	intptr_t v = 0;
	EXPECT_TRUE(prodconf_lookup_constant(conf, "C", &v));
	EXPECT_EQ(2, v);

	log.clear();
	prodconf_default_add_item(conf, "camblock_one", make_nothing, nullptr, nullptr, 1,
	                          PRODCONF_STATE_CAMBLOCK);
	EXPECT_NE(std::string::npos,
	          log.text().find("prodconf_default_add_item: item camblock_one already added to hash"));
	EXPECT_NE(std::string::npos,
	          log.text().find("prodconf_default_add_item: state camblock_one already added to hash"));
	EXPECT_EQ(0u, prodconf_lookup_state(conf, "camblock_one")->value);

	log.clear();
	EXPECT_EQ(-1, prodconf_select_module(conf, 0, PRODCONF_STATE_CAMBLOCK, "nothing"));
	EXPECT_NE(std::string::npos,
	          log.text().find("Prodconf: name nothing does not appear to be a prodconf_state"));
	EXPECT_EQ(0, prodconf_select_module(conf, 1, PRODCONF_STATE_CAMBLOCK, "camblock_two"));
	EXPECT_EQ(1u, prodconf_get_state(conf, 1, PRODCONF_STATE_CAMBLOCK));
	ASSERT_NE(nullptr, conf->selected_modules[1]);
	EXPECT_STREQ("camblock_two", static_cast<char *>(conf->selected_modules[1]->data));
}

// Items: state kinds reach the platform's list of their type, others stay
// with their kind per stream.
struct made {
	std::string name;
	int destroyed = 0;
};

std::vector<made *> made_items;

void *make_sensor(prodconf *, control *, int32_t)
{
	return sensor_new();
}
void *make_iris(prodconf *, control *, int32_t)
{
	return iris_new();
}
void *make_ircut(prodconf *, control *, int32_t)
{
	return ircut_new();
}
void *make_zoom(prodconf *, control *, int32_t)
{
	return zoom_new();
}
void *make_focus(prodconf *, control *, int32_t)
{
	return focus_new();
}
void *make_stabilizer(prodconf *, control *, int32_t)
{
	return stabilizer_new();
}
void *make_light(prodconf *, control *, int32_t)
{
	return light_sensor_new();
}
void *make_cache(prodconf *, control *, int32_t)
{
	return datacache_new();
}
int camblocks_made = 0;
void *make_camblock(prodconf *, control *, int32_t)
{
	camblocks_made++;
	static int token;
	return &token;
}
void *make_plain(prodconf *, control *, int32_t stream)
{
	made *m = new made{"plain" + std::to_string(stream)};
	made_items.push_back(m);
	return m;
}
void destroy_plain(void *item)
{
	static_cast<made *>(item)->destroyed++;
}

class Items : public Prodconf
{
      protected:
	void SetUp() override
	{
		Prodconf::SetUp();
		plat = platform_vorsalind_create(nullptr, conf, 2);
		engine = control_new(plat);
	}
	void TearDown() override
	{
		control_free(engine);
		platform_destroy(plat);
		Prodconf::TearDown();
		for (made *m : made_items)
			delete m;
		made_items.clear();
	}
	platform *plat = nullptr;
	control *engine = nullptr;
};

TEST_F(Items, StateItemsReachThePlatform)
{
	struct {
		const char *name;
		prodconf_create_fn create;
		uint32_t type;
		std::function<void *(platform *, int32_t)> get;
	} cases[] = {
	    {"sensor_x", make_sensor, 6,
	     [](platform *p, int32_t s) { return (void *)platform_get_sensor_for_stream(p, s); }},
	    {"iris_x", make_iris, 7, [](platform *p, int32_t s) { return (void *)platform_get_iris(p, s); }},
	    {"ircut_x", make_ircut, 8,
	     [](platform *p, int32_t s) { return (void *)platform_get_ircut(p, s); }},
	    {"zoom_x", make_zoom, 10, [](platform *p, int32_t s) { return (void *)platform_get_zoom(p, s); }},
	    {"focus_x", make_focus, 11,
	     [](platform *p, int32_t s) { return (void *)platform_get_focus(p, s); }},
	    {"eis_x", make_stabilizer, 12,
	     [](platform *p, int32_t s) { return (void *)platform_get_stabilizer(p, s); }},
	    {"light_x", make_light, 16,
	     [](platform *p, int32_t s) { return (void *)platform_get_light_sensor(p, s); }},
	    {"cache_x", make_cache, 17,
	     [](platform *p, int32_t s) { return (void *)platform_get_datacache(p, s); }},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		prodconf_default_add_item(conf, c.name, c.create, nullptr, nullptr, 1, c.type);
		void *item = prodconf_create_item(conf, engine, 0x100, c.name);
		ASSERT_NE(nullptr, item);
		EXPECT_EQ(item, c.get(plat, 0x100));
		EXPECT_EQ(nullptr, c.get(plat, 0));
		EXPECT_EQ(0u, prodconf_get_state(conf, 1, c.type));
		EXPECT_EQ(PRODCONF_STATE_UNSET, prodconf_get_state(conf, 0, c.type));
	}
	EXPECT_EQ("", log.text());
}

TEST_F(Items, LensBlocksOnlySetTheState)
{
	prodconf_default_add_item(conf, "camblock_three", make_camblock, destroy_plain, nullptr, 1,
	                          PRODCONF_STATE_CAMBLOCK);
	EXPECT_NE(nullptr, prodconf_create_item(conf, engine, 0, "camblock_three"));
	EXPECT_EQ(1, camblocks_made);
	EXPECT_EQ(nullptr, platform_get_camblock(plat, 0));
	EXPECT_EQ(2u, prodconf_get_state(conf, 0, PRODCONF_STATE_CAMBLOCK));
	EXPECT_NE(std::string::npos, log.text().find("camblock_three shouldn't contain destroy_item"));
}

TEST_F(Items, PlainItemsArePerStreamAndReplaced)
{
	prodconf_default_add_item(conf, "algo", make_plain, destroy_plain, nullptr, 0, 0);
	auto *first = static_cast<made *>(prodconf_create_item(conf, engine, 0x101, "algo"));
	ASSERT_NE(nullptr, first);
	EXPECT_EQ(first, prodconf_get_item(conf, "algo", 0x101));
	ASSERT_NE(nullptr, conf->created_kinds[1]);
	EXPECT_TRUE(g_hash_table_contains(conf->created_kinds[1], "algo"));
	auto *second = static_cast<made *>(prodconf_create_item(conf, engine, 0x101, "algo"));
	EXPECT_EQ(1, first->destroyed);
	EXPECT_EQ(second, prodconf_get_item(conf, "algo", 0x101));
	EXPECT_EQ(nullptr, prodconf_lookup_state(conf, "algo"));

	EXPECT_EQ(nullptr, prodconf_create_item(conf, engine, 0, "unknown"));
	EXPECT_NE(std::string::npos, log.text().find("Entry 'unknown' not recognized/has no create func"));
	prodconf_default_add_item(conf, "broken", make_nothing, nullptr, nullptr, 0, 0);
	EXPECT_EQ(nullptr, prodconf_create_item(conf, engine, 0, "broken"));
	EXPECT_NE(std::string::npos, log.text().find("Failed to create item for entry 'broken'"));

	// Replacing the kind destroys what it made.
	prodconf_default_add_item(conf, "algo", make_plain, destroy_plain, nullptr, 0, 0);
	EXPECT_EQ(1, second->destroyed);
	EXPECT_FALSE(g_hash_table_contains(conf->created_kinds[1], "algo"));
}

TEST_F(Items, UnknownStateTypeIsRefused)
{
	prodconf_default_add_item(conf, "odd", make_camblock, nullptr, nullptr, 1, 19);
	prodconf_create_item(conf, engine, 0, "odd");
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: cannot set unknown state type 19"));
	EXPECT_EQ(PRODCONF_STATE_UNSET, prodconf_get_state(conf, 0, 19));
}

} // namespace
