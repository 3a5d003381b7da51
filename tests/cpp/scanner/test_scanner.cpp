#include <gtest/gtest.h>

TEST(ScannerSmoke, Builds) { SUCCEED(); }
