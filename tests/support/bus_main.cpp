// gtest main that runs every test of the program on one private bus.
#include "private_bus.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	::testing::AddGlobalTestEnvironment(new testsupport::PrivateBusEnvironment);
	return RUN_ALL_TESTS();
}
