#include <gtest/gtest.h>

TEST(DecodeSmoke, Builds) { SUCCEED(); }
