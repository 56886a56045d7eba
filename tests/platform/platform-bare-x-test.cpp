// The X11 layer on an X server without a window manager, and after the
// server has gone. Each case runs in a session of its own (Xvfb alone,
// started by scripts/with-xsession --no-wm).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test-support.h"
#include "tests/support/test-windows-client.h"

using platform::WindowHandle;
using namespace testing_support;

namespace {

std::vector<WindowHandle> ListWindows()
{
	std::vector<WindowHandle> windows;
	platform::EnumTopLevelWindows(
		[](WindowHandle w, std::intptr_t user) {
			reinterpret_cast<std::vector<WindowHandle> *>(user)->push_back(w);
			return true;
		},
		reinterpret_cast<std::intptr_t>(&windows));
	return windows;
}

std::vector<WindowHandle> RootChildrenByXwininfo()
{
	std::vector<WindowHandle> ids;
	for (const std::string &line : SplitLines(Shell("xwininfo -root -children")))
		if (line.rfind("     0x", 0) == 0)
			ids.push_back(std::stoul(line, nullptr, 16));
	return ids;
}

} // namespace

TEST(X11WithoutWindowManager, NoWindowIsInTheForegroundButAllAreListed)
{
	TestWindows client;
	const uint32_t window = client.Open("alone");
	ASSERT_NE(window, 0u);
	// Nobody manages the windows, so nobody names an active one.
	EXPECT_EQ(Shell("xprop -root _NET_ACTIVE_WINDOW").find("window id"), std::string::npos);
	EXPECT_EQ(platform::ForegroundWindow(), 0u);

	const std::vector<WindowHandle> listed = ListWindows();
	EXPECT_EQ(listed, RootChildrenByXwininfo());
	char16_t title[16] = {};
	EXPECT_EQ(platform::WindowTitle(window, title, 16), 5);
	EXPECT_EQ(std::u16string(title), u"alone");
	EXPECT_EQ(platform::WindowProcessId(window), static_cast<uint32_t>(client.pid()));
	EXPECT_FALSE(platform::WindowSystemLost());
}

// Ends the session's X server: the last thing this process does with X.
TEST(X11WithoutWindowManager, ServerThatEndsIsReportedLostAndReadsAsNothing)
{
	const char *server = std::getenv("VORLIX_XVFB_PID");
	ASSERT_NE(server, nullptr) << "run through scripts/with-xsession";
	TestWindows client;
	const uint32_t window = client.Open("before the end");
	ASSERT_NE(platform::ForegroundWindow(), 1u); // the connection is open
	ASSERT_FALSE(platform::WindowSystemLost());

	kill(static_cast<pid_t>(std::atoi(server)), SIGTERM);
	// The loss shows at the next read from the connection.
	bool lost = false;
	for (int i = 0; i < 1000 && !lost; ++i) {
		platform::ForegroundWindow();
		lost = platform::WindowSystemLost();
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	ASSERT_TRUE(lost);

	char16_t title[16] = {u'#'};
	EXPECT_EQ(platform::WindowTitle(window, title, 16), 0);
	EXPECT_EQ(title[0], u'\0');
	EXPECT_EQ(platform::WindowProcessId(window), 0u);
	EXPECT_EQ(platform::ForegroundWindow(), 0u);
	EXPECT_EQ(platform::DesktopWindow(), 0u);
	EXPECT_TRUE(ListWindows().empty());
	EXPECT_FALSE(platform::EnumTopLevelWindows([](WindowHandle, std::intptr_t) { return true; }, 0));
	EXPECT_TRUE(platform::WindowSystemLost());
}

TEST(X11WithoutDisplay, EverythingReadsAsNothingAndTheSystemIsLost)
{
	unsetenv("DISPLAY");
	EXPECT_EQ(platform::ForegroundWindow(), 0u);
	EXPECT_EQ(platform::DesktopWindow(), 0u);
	EXPECT_EQ(platform::WindowProcessId(0x400000), 0u);
	EXPECT_FALSE(platform::EnumTopLevelWindows([](WindowHandle, std::intptr_t) { return true; }, 0));
	EXPECT_TRUE(platform::WindowSystemLost());
}
