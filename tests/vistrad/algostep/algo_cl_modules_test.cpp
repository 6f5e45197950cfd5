// The algorithm module table: its rows as the registry receives them, and the
// common create that makes one group and step per stream from a module's
// description.
#include <gtest/gtest.h>

#include <stddef.h>

#include <string>
#include <vector>

#include "algostep/algo_cl_modules.h"
#include "core/control.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "log_capture.h"
#include "platform/platform.h"
#include "platform/platform_vorsalind.h"
#include "prodconf_builder.h"

namespace
{

struct added {
	std::string name;
	prodconf_create_fn create;
	prodconf_destroy_fn destroy;
	prodconf_start_fn start;
	int is_state;
	uint32_t type;
};
std::vector<added> registered;

void record_add(prodconf *, const char *name, prodconf_create_fn create, prodconf_destroy_fn destroy,
                prodconf_start_fn start, int is_state, uint32_t type)
{
	registered.push_back({name, create, destroy, start, is_state, type});
}

struct test_settings {
	int32_t value;
};

const prodconf_field test_fields[] = {
    prodconf_field_i32("value", PRODCONF_INT, PRODCONF_OPTIONAL, offsetof(test_settings, value), 7),
};
const prodconf_schema test_schema = {ALGO_CL_SCHEMA, sizeof(test_settings), test_fields, 1};

struct test_local {
	algo_cl_local head;
	int32_t seen_inputs_at_specifics;
	uint8_t tail[40];
};

int destroys = 0;
int count_destroy(algo_step *, control *)
{
	destroys++;
	return 0;
}

void add_motion_input(prodconf *, control *, int32_t stream_id, algo_step *step, void *)
{
	auto *local = static_cast<test_local *>(algo_step_get_local_data(step));
	local->seen_inputs_at_specifics = (int32_t)g_list_length(step->inputs);
	algo_step_add_input_stream_id(step, 119, stream_id);
}

const algo_cl_module test_module = {
    &test_schema, sizeof(test_local), nullptr, nullptr, count_destroy, {42}, 1, {154}, 1, add_motion_input,
    nullptr,
};

const char *const table_names[ALGO_CL_MODULES] = {
    "algo_focus_datacache_cl", "algo_hist_analyzer_cl",    "algo_smart_ae_cl",    "algo_dic_cl",
    "algo_daynight_vorsalind", "algo_qorex_image_ctrl_cl", "algo_snr_vors_gen01", "algo_helmet_detect",
};

class Table : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		registered.clear();
		destroys = 0;
		conf = prodconf_new();
		conf->read_item = prodconf_read_item;
		plat = platform_vorsalind_create(nullptr, conf, 1);
		engine = control_new(plat);
		ASSERT_NE(nullptr, engine);
		prodconf_node *section = pc_section(conf, "algo_test");
		pc_node(pc_node(section, "config"), "value", {"3"});
		log.clear();
	}
	void TearDown() override
	{
		control_stop(engine);
		control_free(engine);
		platform_destroy(plat);
		prodconf_free(conf);
	}
	// The one group of the owner, with its one step.
	algo_step *step_of(int32_t owner)
	{
		GList *groups = control_get_groups_of_owner(engine, (uint32_t)owner);
		EXPECT_EQ(1u, g_list_length(groups));
		algo_step *step = nullptr;
		if (groups) {
			auto *group = static_cast<algo_group *>(groups->data);
			EXPECT_EQ(owner, *static_cast<int32_t *>(group->owner));
			EXPECT_EQ(1u, g_list_length(group->steps));
			step = static_cast<algo_step *>(group->steps->data);
		}
		g_list_free(groups);
		return step;
	}
	static std::string types(GList *list)
	{
		std::string out;
		for (GList *l = list; l; l = l->next) {
			auto *io = static_cast<algo_output *>(l->data);
			out += (out.empty() ? "" : " ") + std::to_string(io->type) + "@" +
			       std::to_string(io->stream_id);
		}
		return out;
	}

	LogCapture log;
	prodconf *conf = nullptr;
	platform *plat = nullptr;
	control *engine = nullptr;
};

// Sensor modules first, then the eight rows in table order with no state.
TEST_F(Table, RowsReachTheRegistryInOrder)
{
	conf->add_item = record_add;
	algo_cl_register_modules(conf);
	ASSERT_GT(registered.size(), (size_t)ALGO_CL_MODULES);
	size_t first = registered.size() - ALGO_CL_MODULES;
	EXPECT_EQ("sensor_common_vorsalind", registered[0].name);
	for (size_t i = 0; i < ALGO_CL_MODULES; i++) {
		const added &row = registered[first + i];
		SCOPED_TRACE(table_names[i]);
		EXPECT_EQ(table_names[i], row.name);
		EXPECT_EQ(algo_cl_table[i].create, row.create);
		EXPECT_EQ(algo_cl_table[i].free, row.destroy);
		EXPECT_NE(nullptr, row.create);
		EXPECT_NE(nullptr, row.destroy);
		EXPECT_EQ(nullptr, row.start);
		EXPECT_EQ(0, row.is_state);
		EXPECT_EQ(0u, row.type);
		EXPECT_EQ(0u, algo_cl_table[i].reserved);
	}
	for (size_t i = 0; i < first; i++)
		EXPECT_EQ(1, registered[i].is_state) << registered[i].name;
}

TEST_F(Table, NameRegisteredTwiceIsReported)
{
	conf->add_item = prodconf_default_add_item;
	prodconf_default_add_item(conf, "algo_hist_analyzer_cl", nullptr, nullptr, nullptr, 0, 0);
	algo_cl_register_modules(conf);
	EXPECT_NE(
	    std::string::npos,
	    log.text().find("prodconf_default_add_item: item algo_hist_analyzer_cl already added to hash"));
	EXPECT_EQ(std::string::npos, log.text().find("item algo_dic_cl already"));
}

// Each stream of a channel gets its own group, step, local data and settings.
TEST_F(Table, TwoStreamsOfOneChannel)
{
	void *a = algo_cl_create(&test_module, "algo_test", conf, engine, 0);
	void *b = algo_cl_create(&test_module, "algo_test", conf, engine, 1);
	ASSERT_NE(nullptr, a);
	ASSERT_NE(nullptr, b);
	EXPECT_NE(a, b);
	EXPECT_EQ(3, static_cast<test_settings *>(a)->value);
	for (int32_t sid : {0, 1}) {
		SCOPED_TRACE(sid);
		algo_step *step = step_of(sid);
		ASSERT_NE(nullptr, step);
		EXPECT_EQ(sid, step->stream_id);
		EXPECT_EQ(1, step->inserted);
		EXPECT_EQ(count_destroy, step->destroy);
		auto *local = static_cast<test_local *>(algo_step_get_local_data(step));
		EXPECT_EQ(1u, local->head.refs);
		EXPECT_EQ(sid ? b : a, local->head.settings);
		EXPECT_EQ(sid ? b : a, algo_cl_settings(step));
		EXPECT_EQ(1, local->seen_inputs_at_specifics);
		for (uint8_t byte : local->tail)
			EXPECT_EQ(0, byte);
		std::string s = std::to_string(sid);
		EXPECT_EQ("42@" + s + " 119@" + s, types(step->inputs));
		EXPECT_EQ("154@" + s, types(step->outputs));
	}
	EXPECT_NE(step_of(0)->local_data, step_of(1)->local_data);
	algo_cl_free_settings(a);
	algo_cl_free_settings(b);
}

// A module whose settings cannot be read makes nothing for that stream; a
// row not built yet says so and makes nothing either.
TEST_F(Table, UnreadableSettingsAndAbsentModules)
{
	EXPECT_EQ(nullptr, algo_cl_create(&test_module, "algo_missing", conf, engine, 0));
	EXPECT_NE(std::string::npos, log.text().find("Prodconf: unknown item algo_missing"));
	GList *groups = control_list_groups(engine);
	EXPECT_EQ(nullptr, groups);
	g_list_free(groups);

	// A required key missing: the one module fails, the next is made.
	pc_node(pc_section(conf, "algo_bad"), "config");
	const prodconf_field required[] = {
	    prodconf_field_make("absent", PRODCONF_INT, PRODCONF_REQUIRED, offsetof(test_settings, value)),
	};
	const prodconf_schema required_schema = {ALGO_CL_SCHEMA, sizeof(test_settings), required, 1};
	algo_cl_module strict = test_module;
	strict.schema = &required_schema;
	testing::internal::CaptureStderr();
	EXPECT_EQ(nullptr, algo_cl_create(&strict, "algo_bad", conf, engine, 0));
	testing::internal::GetCapturedStderr();
	void *made = algo_cl_create(&test_module, "algo_test", conf, engine, 0);
	EXPECT_NE(nullptr, made);
	groups = control_list_groups(engine);
	EXPECT_EQ(1u, g_list_length(groups));
	g_list_free(groups);
	algo_cl_free_settings(made);

	// Without their sections every row makes nothing, built or not.
	for (const algo_cl_row &row : algo_cl_table) {
		SCOPED_TRACE(row.name);
		log.clear();
		EXPECT_EQ(nullptr, row.create(conf, engine, 256));
		std::string text = log.text();
		EXPECT_TRUE(text.find(std::string("Prodconf: unknown item ") + row.name) !=
		                std::string::npos ||
		            text.find(std::string(row.name) +
		                      ": algorithm not available, nothing created for stream 256\n") !=
		                std::string::npos);
	}
	groups = control_get_groups_of_owner(engine, 256);
	EXPECT_EQ(nullptr, groups);
}

} // namespace
