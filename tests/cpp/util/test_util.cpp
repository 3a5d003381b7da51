#include <gtest/gtest.h>

TEST(UtilSmoke, Builds) { SUCCEED(); }
