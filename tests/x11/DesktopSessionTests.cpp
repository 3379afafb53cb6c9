#include "tests/support/DesktopSession.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <signal.h>

#include <cstdlib>
#include <string>

namespace zorvane::testing {
namespace {

TEST(DesktopSession, StartsTwoMonitorsWithAWindowManagerAndLeavesNothingBehind)
{
    const char* homeBefore = std::getenv("HOME");
    const std::string savedHome = homeBefore ? homeBefore : "";
    pid_t xmessage = 0;
    std::filesystem::path home;
    {
        DesktopSession session({.tray = true});
        home = session.home();
        EXPECT_EQ(std::getenv("HOME"), home.string());
        Display* d = XOpenDisplay(nullptr);
        ASSERT_NE(d, nullptr);
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(d, DefaultRootWindow(d), True, &count);
        ASSERT_EQ(count, 2);
        EXPECT_EQ(monitors[0].x, 0);
        EXPECT_TRUE(monitors[0].primary);
        EXPECT_EQ(monitors[1].x, 1440);
        XRRFreeMonitors(monitors);
        EXPECT_NE(XGetSelectionOwner(d, XInternAtom(d, "_NET_SYSTEM_TRAY_S0", False)), 0u) << "no tray";
        XCloseDisplay(d);

        xmessage = session.spawn({"xmessage", "-title", "harness-probe", "harness probe window"});
        EXPECT_TRUE(session.waitForWindow("harness-probe", 10));
        EXPECT_FALSE(session.waitForWindow("no such window", 0.2));
        const auto shot = home / "root.png";
        EXPECT_TRUE(session.screenshot(shot));
    }
    EXPECT_EQ(std::getenv("HOME") ? std::string(std::getenv("HOME")) : "", savedHome);
    EXPECT_FALSE(std::filesystem::exists(home));
    EXPECT_NE(kill(xmessage, 0), 0) << "a spawned program outlived the session";
}

} // namespace
} // namespace zorvane::testing
