// kivstandin as a real process, given what any process on the desktop may
// send it: blocks without bytes, creation messages with stray addresses.
#include "hubHarness.h"
#ifndef _WIN32
#include "foreignSend.h"
#endif

#include <gtest/gtest.h>

namespace {

constexpr UINT msgPing = 49238; // the hub answers 1

class hostileHubPeer : public ::testing::Test {
protected:
    LRESULT ping() const { return driver.send(hub.window(), msgPing, 0, 0); }

    privateDesktop desktop;
    hubProcess hub{desktop};
    testDriverWindow driver;
};

TEST_F(hostileHubPeer, takesAnEmptyBlockWithoutAddressAndGoesOnServing)
{
    COPYDATASTRUCT empty{2187u << 16, 0, nullptr};
    driver.send(hub.window(), WM_COPYDATA, reinterpret_cast<WPARAM>(driver.handle()), reinterpret_cast<LPARAM>(&empty));
    EXPECT_EQ(ping(), 1);
    EXPECT_EQ(hub.command("status").rfind("ok status", 0), 0u);
}

// On Windows the system carries WM_CREATE's structure itself.
#ifndef _WIN32
TEST_F(hostileHubPeer, answersZeroToACreationMessageWithAStrayAddressAndGoesOnServing)
{
    SetLastError(0);
    EXPECT_EQ(driver.send(hub.window(), WM_CREATE, 0, 8), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    DWORD owner = 0;
    ASSERT_NE(GetWindowThreadProcessId(hub.window(), &owner), 0u);
    const foreignAnswer answer = sendAsForeignProcess(desktop.directory(), owner, hub.window(), WM_CREATE, 0, 8);
    EXPECT_TRUE(answer.answered);
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(ping(), 1);
}
#endif

} // namespace
