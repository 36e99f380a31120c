#include <gtest/gtest.h>

#include "uninstaller/tidewell.h"
#include "winsim.h"

int TidewellMain(int argc, char **argv, char **envp);

namespace {

TEST(TidewellFlow, Smoke) {
    sim::Reset();
    g_RemovedDevices = 0;
    sim::AddDirectory("C:\\Windows");
    sim::AddDirectory("C:\\Windows\\inf");
    EXPECT_EQ(0, TidewellMain(0, nullptr, nullptr));
    auto msgs = sim::Messages("..Tidewell - Omrak");
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ("Uninstall Device\n", msgs[0]);
    EXPECT_TRUE(sim::OpenResources().empty());
}

}  // namespace
