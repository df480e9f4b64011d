// The zarvo program as a user runs it: output bytes and exit codes.
#include <gtest/gtest.h>

#include "Harness.h"

namespace {

TEST(DriverE2E, EchoesMessageWithLineFeed) {
  e2e::RunResult result = e2e::RunArgs({"Hello World"});
  EXPECT_EQ(result.strOut, "Hello World\n");
  EXPECT_EQ(result.strErr, "");
  EXPECT_EQ(result.nExitCode, 0);
}

}  // namespace
