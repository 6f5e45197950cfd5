// The serial-link loader and objects with the test libraries: one lays its
// objects out by byte offset and records every call, one lacks the entry.
#include <dlfcn.h>

#include "platform/serial_link.h"
#include "platform_fixture.h"

namespace
{

typedef char *(*take_log_fn)(void);
typedef void (*set_int_fn)(int);
typedef void (*reset_fn)(void);

bool loaded(const char *path)
{
	void *handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
	if (handle)
		dlclose(handle);
	return handle != nullptr;
}

class SerialLink : public PlatformTest
{
      protected:
	void SetUp() override
	{
		PlatformTest::SetUp();
		ASSERT_FALSE(loaded(SERIAL_LINK_LIB));
	}
	void TearDown() override
	{
		platform_remove_all_serial_link(plat_, 0x100);
		while (opened-- > 0)
			serial_link_close_dynamic_lib(library);
		EXPECT_FALSE(loaded(SERIAL_LINK_LIB)) << "a reference was left";
		PlatformTest::TearDown();
	}
	void *open()
	{
		library = serial_link_open_dynamic_lib(SERIAL_LINK_LIB, nullptr);
		EXPECT_NE(nullptr, library);
		opened++;
		reinterpret_cast<reset_fn>(dlsym(library, "serial_link_lib_reset"))();
		return library;
	}
	std::string take_log()
	{
		return take_text(reinterpret_cast<take_log_fn>(dlsym(library, "serial_link_lib_take_log"))());
	}
	// The stream's link made through the library. The links go before the
	// library's last close: their slots are its code.
	serial_link *link_for(int32_t stream_id)
	{
		open();
		EXPECT_EQ(0, serial_link_create(library, engine_, stream_id));
		return platform_get_serial_link(plat_, stream_id);
	}
	void *library = nullptr;
	int opened = 0;
};

// Each wrapper reaches the slot at its offset with its arguments; destroy
// gets the stream id.
TEST_F(SerialLink, SlotsAtTheLibrarysOffsets)
{
	serial_link *link = link_for(0x100);
	ASSERT_NE(nullptr, link);
	EXPECT_EQ(plat_, link->platform);
	prodconf_area area = {0, 0, 1919, 1079};
	EXPECT_EQ(0, serial_link_op2(link, 1));
	EXPECT_EQ(0, serial_link_op3(link, 2, 3));
	EXPECT_EQ(0, serial_link_prepare_capture_mode(link, 0x100));
	EXPECT_EQ(0, serial_link_end_capture_mode(link, &area, 0x100));
	EXPECT_EQ(0, serial_link_capture_mode_applied(link, 0x100));
	EXPECT_EQ(0, serial_link_op7(link, 4));
	EXPECT_EQ(0, serial_link_op8(link, 5, 6, 7));
	EXPECT_EQ(0, serial_link_op9(link, 8, 9));
	EXPECT_EQ(0, serial_link_op10(link, 10));
	EXPECT_EQ(0, serial_link_op11(link, 11, 12));
	EXPECT_EQ(0, serial_link_set_ircut(link, 1, 1));
	EXPECT_EQ(0, serial_link_op13(link, 13, 14));
	EXPECT_EQ(nullptr, link->spare);
	EXPECT_EQ(
	    "create(256) op2(1) op3(2,3) prepare(256) end(1919,1079,256) applied(256) op7(4) op8(5,6,7) "
	    "op9(8,9) op10(10) op11(11,12) set_ircut(1,1) op13(13,14)",
	    take_log());
	platform_remove_all_serial_link(plat_, 0x100);
	EXPECT_EQ("destroy(256)", take_log());
}

// A slot's answer is the wrapper's; an empty slot or no link is -1, and a
// link without destroy is only freed.
TEST_F(SerialLink, AnswersAndEmptySlots)
{
	serial_link *link = link_for(0x100);
	reinterpret_cast<void (*)(const char *, int)>(dlsym(library, "serial_link_lib_set_answer"))("prepare",
	                                                                                            -4);
	EXPECT_EQ(-4, serial_link_prepare_capture_mode(link, 0x100));

	auto *empty = static_cast<serial_link *>(calloc(1, sizeof(serial_link)));
	for (serial_link *l : {empty, static_cast<serial_link *>(nullptr)}) {
		EXPECT_EQ(-1, serial_link_prepare_capture_mode(l, 0));
		EXPECT_EQ(-1, serial_link_end_capture_mode(l, nullptr, 0));
		EXPECT_EQ(-1, serial_link_capture_mode_applied(l, 0));
		EXPECT_EQ(-1, serial_link_set_ircut(l, 0, 1));
		EXPECT_EQ(-1, serial_link_op2(l, 0));
		EXPECT_EQ(-1, serial_link_op3(l, 0, 0));
		EXPECT_EQ(-1, serial_link_op7(l, 0));
		EXPECT_EQ(-1, serial_link_op8(l, 0, 0, 0));
		EXPECT_EQ(-1, serial_link_op9(l, 0, 0));
		EXPECT_EQ(-1, serial_link_op10(l, 0));
		EXPECT_EQ(-1, serial_link_op11(l, 0, 0));
		EXPECT_EQ(-1, serial_link_op13(l, 0, 0));
	}
	serial_link_destroy(empty, 0);
	serial_link_destroy(nullptr, 0);
}

// Links are kept newest first.
TEST_F(SerialLink, JoinsTheStreamsList)
{
	serial_link *first = link_for(0x100);
	serial_link *second = link_for(0x100);
	EXPECT_NE(first, second);
	EXPECT_EQ(second, platform_get_nth_serial_link(plat_, 0x100, 0));
	EXPECT_EQ(first, platform_get_nth_serial_link(plat_, 0x100, 1));
	EXPECT_EQ(nullptr, platform_get_serial_link(plat_, 0));
}

// The second name is tried when the first fails; every open gives the
// handle and counts, and the last close unloads.
TEST_F(SerialLink, OpensAreCounted)
{
	void *a = serial_link_open_dynamic_lib("/nonexistent/libserial.so", SERIAL_LINK_LIB);
	ASSERT_NE(nullptr, a);
	void *b = serial_link_open_dynamic_lib(SERIAL_LINK_LIB, nullptr);
	EXPECT_EQ(a, b);
	serial_link_close_dynamic_lib(b);
	EXPECT_TRUE(loaded(SERIAL_LINK_LIB));
	serial_link_close_dynamic_lib(a);
	EXPECT_FALSE(loaded(SERIAL_LINK_LIB));
	EXPECT_TRUE(log_.text().empty());
}

// Neither name loads: the reason, null, and the count stays 0 (so a close
// finds it negative and says so; the next open still loads).
TEST_F(SerialLink, NeitherNameLoads)
{
	EXPECT_EQ(nullptr, serial_link_open_dynamic_lib("/nonexistent/a.so", "/nonexistent/b.so"));
	std::string errors = log_.text(DEBUG_ERROR);
	EXPECT_EQ(0u, errors.find("Failed to load the serial link lib: /nonexistent/b.so: "));
	// A close without its open unloads nothing, even given a handle.
	void *own = dlopen(SERIAL_LINK_LIB, RTLD_NOW);
	ASSERT_NE(nullptr, own);
	serial_link_close_dynamic_lib(own);
	EXPECT_EQ("serial_link_close_dynamic_lib: Negative ref counter -1\n", log_.text(DEBUG_WARNING));
	EXPECT_TRUE(loaded(SERIAL_LINK_LIB));
	dlclose(own);
	open();
	EXPECT_TRUE(loaded(SERIAL_LINK_LIB));
}

// Without the entry point the library is closed again: -1, and nothing is
// added; a library that makes no link is treated alike.
TEST_F(SerialLink, CreateFailures)
{
	void *handle = serial_link_open_dynamic_lib(SERIAL_LINK_NOSYM_LIB, nullptr);
	ASSERT_NE(nullptr, handle);
	EXPECT_EQ(-1, serial_link_create(handle, engine_, 0x100));
	EXPECT_EQ("Failed to find symbol lib_serial_link_create\n", log_.text(DEBUG_ERROR));
	EXPECT_FALSE(loaded(SERIAL_LINK_NOSYM_LIB));

	open();
	reinterpret_cast<set_int_fn>(dlsym(library, "serial_link_lib_refuse_create"))(1);
	EXPECT_EQ(-1, serial_link_create(library, engine_, 0x100));
	opened--;
	EXPECT_EQ(nullptr, platform_get_serial_link(plat_, 0x100));
	EXPECT_FALSE(loaded(SERIAL_LINK_LIB));
	log_.clear();
	serial_link_close_dynamic_lib(nullptr);
	EXPECT_EQ("serial_link_close_dynamic_lib: Negative ref counter -1\n", log_.text(DEBUG_WARNING));
}

} // namespace
