#include <gtest/gtest.h>
#include "link/Protocol.h"
TEST(Placeholder, Builds) { SUCCEED(); }
