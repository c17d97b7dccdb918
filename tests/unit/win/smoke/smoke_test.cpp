#include <windows.h>
#include <gtest/gtest.h>
TEST(Smoke, RunsUnderWine) { EXPECT_NE(GetCurrentProcessId(), 0u); }
