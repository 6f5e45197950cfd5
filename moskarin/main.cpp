// moskarin: GLib test paths chosen by the board; the exit status is the
// test run's.
#include "test-common.h"

int main(int argc, char **argv)
{
	g_test_init(&argc, &argv, NULL);
	g_test_set_nonfatal_assertions();
	moskarin_register_tests(get_board_tuning());
	return g_test_run();
}
