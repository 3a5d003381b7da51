#include <gtest/gtest.h>

TEST(EncodeSmoke, Builds) { SUCCEED(); }
