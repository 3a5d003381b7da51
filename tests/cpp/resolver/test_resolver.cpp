#include <gtest/gtest.h>

TEST(ResolverSmoke, Builds) { SUCCEED(); }
