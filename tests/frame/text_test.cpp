#include "frame/text.h"
#include <gtest/gtest.h>
TEST(Text, Smoke) { EXPECT_EQ(vyr::cld::bridge::narrow(vyr::cld::bridge::widen("abc")), "abc"); }
