#pragma once
// The optics tests' channel of daemon (root prefix, parameters, a
// configuration, a platform of two channels and an engine), with the log
// starting empty once it is set up.

#include "../optics/optics_fixture.h"

class PlatformTest : public OpticsTest
{
      protected:
	void SetUp() override
	{
		OpticsTest::SetUp();
		log_.clear();
	}
};
