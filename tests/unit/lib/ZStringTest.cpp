#include <gtest/gtest.h>

#include "ZString.h"

namespace {

TEST(CStringConstruction, EmptyIsNeverNull) {
  CString strDefault;
  CString strNull(static_cast<const char*>(nullptr));
  EXPECT_STREQ(strDefault.GetString(), "");
  EXPECT_STREQ(strNull.GetString(), "");
}

}  // namespace
