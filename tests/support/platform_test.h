// The fixture of every test that touches the simulated platform. A test program has one platform
// for all its tests, so each test starts from it as the process started, whatever the one before
// it left behind: a user, a presence list, a failure made, an open handle, even after an assertion
// that ended that test half way.
#pragma once

#include "simulated_windows/simulated_platform.h"

#include <gtest/gtest.h>

namespace test_support {

class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override { simulated_windows::ResetPlatform(); }
};

template <typename Param>
class PlatformTestWithParam : public PlatformTest, public ::testing::WithParamInterface<Param> {
};

} // namespace test_support
