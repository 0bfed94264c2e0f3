#include <gtest/gtest.h>

#include "telemetry/Conversions.h"

TEST(Smoke, PowerOfTwo) { EXPECT_EQ(tavrik::PowerOfTwo(10), 1024); }
