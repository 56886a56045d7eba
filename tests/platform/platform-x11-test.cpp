// The X11 layer against a real X server with a real window manager: each
// case runs in an X session of its own (Xvfb and openbox, started by
// scripts/with-xsession). Windows come from vorlix-test-windows; known
// answers from xprop, xwininfo and the titles the test itself chose.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/utf16-text.h"
#include "tests/support/test-support.h"
#include "tests/support/test-windows-client.h"

using platform::WindowHandle;
using namespace testing_support;

namespace {

std::u16string Title(WindowHandle window, int max_count = 1024)
{
	std::u16string buffer(static_cast<size_t>(max_count), u'#');
	const int n = platform::WindowTitle(window, &buffer[0], max_count);
	EXPECT_EQ(buffer[static_cast<size_t>(n)], u'\0');
	return buffer.substr(0, static_cast<size_t>(n));
}

std::vector<WindowHandle> ListWindows()
{
	std::vector<WindowHandle> windows;
	EXPECT_TRUE(platform::EnumTopLevelWindows(
		[](WindowHandle w, std::intptr_t user) {
			reinterpret_cast<std::vector<WindowHandle> *>(user)->push_back(w);
			return true;
		},
		reinterpret_cast<std::intptr_t>(&windows)));
	return windows;
}

// Window ids in an xprop answer such as "... window id # 0x400000, 0x400001".
std::vector<WindowHandle> XpropWindows(const std::string &arguments)
{
	const std::string out = Shell("xprop " + arguments);
	std::vector<WindowHandle> ids;
	for (size_t at = out.find("0x"); at != std::string::npos; at = out.find("0x", at + 2))
		ids.push_back(std::stoul(out.substr(at), nullptr, 16));
	return ids;
}

// The layer answers from the server's events; they arrive a moment after
// the change that the window client waited for.
template <typename Check> bool Eventually(Check check)
{
	for (int i = 0; i < 1000; ++i) {
		if (check())
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return false;
}

using testing_support::Hex;

std::string ExeNameOf(uint32_t pid)
{
	std::string name;
	platform::ProcessSnapshot *snapshot = platform::OpenProcessSnapshot();
	platform::ProcessEntry entry{};
	for (bool more = platform::FirstProcess(snapshot, &entry); more;
	     more = platform::NextProcess(snapshot, &entry))
		if (entry.pid == pid)
			name = platform::text::Utf16ToUtf8(entry.exe_file);
	platform::CloseProcessSnapshot(snapshot);
	return name;
}

// The id of the window a handle names (the rest of the handle is its
// generation).
uint32_t WindowId(WindowHandle handle)
{
	return static_cast<uint32_t>(handle);
}

} // namespace

TEST(X11Windows, EnumerationListsTheWindowManagersClientsAndStopsWhenAsked)
{
	TestWindows client;
	const std::vector<uint32_t> opened = client.OpenMany(3, "listed");
	ASSERT_EQ(opened.size(), 3u);
	const std::vector<WindowHandle> listed = ListWindows();
	EXPECT_EQ(listed, XpropWindows("-root _NET_CLIENT_LIST"));
	for (const uint32_t w : opened)
		EXPECT_NE(std::find(listed.begin(), listed.end(), w), listed.end());

	int calls = 0;
	EXPECT_FALSE(platform::EnumTopLevelWindows(
		[](WindowHandle, std::intptr_t user) {
			++*reinterpret_cast<int *>(user);
			return false;
		},
		reinterpret_cast<std::intptr_t>(&calls)));
	EXPECT_EQ(calls, 1);
	EXPECT_EQ(platform::DesktopWindow(),
		  std::stoul(Shell("xwininfo -root | sed -n 's/.*Window id: \\(0x[0-9a-f]*\\).*/\\1/p'"),
			     nullptr, 16));
}

TEST(X11Windows, ForegroundFollowsEveryActivation)
{
	TestWindows client;
	const uint32_t a = client.Open("A"), b = client.Open("B");
	// The window manager focuses a window it maps on its own time; once it
	// has, no focus of its own comes between the activations below.
	ASSERT_TRUE(Eventually([&] {
		return XpropWindows("-root _NET_ACTIVE_WINDOW") == std::vector<WindowHandle>{b};
	}));
	for (const uint32_t w : {a, b, a, b}) {
		ASSERT_TRUE(client.Activate(w));
		EXPECT_TRUE(Eventually([&] { return platform::ForegroundWindow() == w; }))
			<< "foreground " << platform::ForegroundWindow() << " not " << w;
		// Asked many times, as the sampler does once per window.
		for (int i = 0; i < 100; ++i)
			ASSERT_EQ(platform::ForegroundWindow(), w);
		EXPECT_EQ(XpropWindows("-root _NET_ACTIVE_WINDOW"), std::vector<WindowHandle>{w});
	}
	client.Close(b);
	EXPECT_TRUE(Eventually([&] { return platform::ForegroundWindow() != b; }));
}

TEST(X11Windows, TitlesInEveryEncodingReadAsUtf16)
{
	TestWindows client;
	const struct {
		const char *verb;
		std::string arguments;
		std::u16string title;
	} cases[] = {
		{"open", "Hello", u"Hello"},
		{"open", "w\xc3\xb6rld \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80",
		 u"w\u00f6rld \u4e2d\u6587 \U0001F600"},
		{"open", "", u""},
		{"open-nopid", "no pid", u"no pid"},
		{"open-latin1", "Caf\xc3\xa9 Z\xc3\xbcrich \xc3\xbf", u"Caf\u00e9 Z\u00fcrich \u00ff"},
		{"open-raw", "UTF8_STRING " + Hex("\xe4\xb8\xad"), u"\u4e2d"},
		// ESC $ ) A and the GB2312 bytes of the text (iconv -t EUC-CN).
		{"open-raw", "COMPOUND_TEXT 1b242941d6d0cec4", u"\u4e2d\u6587"},
		{"open-raw", "STRING -", u""},
	};
	for (const auto &c : cases) {
		const uint32_t w = client.OpenWith(c.verb, c.arguments);
		ASSERT_NE(w, 0u) << c.verb << " " << c.arguments;
		EXPECT_EQ(Title(w), c.title) << c.verb << " " << c.arguments;
	}
}

TEST(X11Windows, CompoundTextFromXlibReadsBack)
{
	TestWindows client;
	const uint32_t w = client.OpenWith("open-latin1", "placeholder");
	const std::string id = std::to_string(w);
	// Xlib encodes text beyond Latin-1 as COMPOUND_TEXT (format "8t").
	Shell("LC_ALL=C.UTF-8 xprop -id " + id + " -f WM_NAME 8t -set WM_NAME '"
	      "\xe4\xb8\xad\xe6\x96\x87 \xc5\x81\xc3\xb3\x64\xc5\xba \xd0\x9c\xd0\xb8\xd1\x80 "
	      "\xe6\x97\xa5\xe6\x9c\xac \xed\x95\x9c\xea\xb5\xad \xe2\x82\xac'");
	ASSERT_NE(Shell("xprop -id " + id + " WM_NAME").find("COMPOUND_TEXT"), std::string::npos);
	EXPECT_EQ(Title(w), u"\u4e2d\u6587 \u0141\u00f3d\u017a \u041c\u0438\u0440 "
			    u"\u65e5\u672c \ud55c\uad6d \u20ac");

	// _NET_WM_NAME, once set, wins over WM_NAME.
	Shell("xprop -id " + id + " -f _NET_WM_NAME 8u -set _NET_WM_NAME 'new name'");
	EXPECT_EQ(Title(w), u"new name");
}

TEST(X11Windows, LongTitlesAreCutLikeGetWindowTextW)
{
	TestWindows client;
	std::string long_title;
	for (int i = 0; i < 200; ++i)
		long_title += static_cast<char>('a' + i % 26);
	const std::u16string long16(long_title.begin(), long_title.end());
	// 147 units, then a pair that a cut after 148 would split.
	const std::string pair_title = std::string(147, 'x') + "\xf0\x9f\x98\x80" + "tail";
	const std::u16string pair16 = std::u16string(147, u'x') + u"\U0001F600tail";
	const uint32_t plain = client.Open(long_title), pair = client.Open(pair_title);
	// COMPOUND_TEXT switching sets before every character (GB2312, then
	// Latin-1's right half): 100 times ESC $ ) A, D6 D0, ESC - A, E9 is
	// 1,000 bytes for 200 characters.
	std::string switching;
	for (int i = 0; i < 100; ++i)
		switching += "1b242941d6d01b2d41e9";
	const uint32_t ctext = client.OpenWith("open-raw", "COMPOUND_TEXT " + switching);
	std::u16string switching16;
	for (int i = 0; i < 74; ++i)
		switching16 += u"\u4e2d\u00e9";

	const struct {
		uint32_t window;
		int max_count;
		std::u16string expected;
	} cases[] = {
		{plain, 149, long16.substr(0, 148)}, {plain, 201, long16},
		{plain, 200, long16.substr(0, 199)}, {plain, 2, u"a"},
		{plain, 1, u""},                     {pair, 149, pair16.substr(0, 147)},
		{pair, 150, pair16.substr(0, 149)},  {pair, 148, pair16.substr(0, 147)},
		{ctext, 149, switching16},
	};
	for (const auto &c : cases)
		EXPECT_EQ(Title(c.window, c.max_count), c.expected) << c.max_count;

	char16_t untouched[1] = {u'#'};
	EXPECT_EQ(platform::WindowTitle(plain, untouched, 0), 0);
	EXPECT_EQ(untouched[0], u'#');
}

// The owner is the client's host pid as X-Resource knows it, whatever
// _NET_WM_PID claims: a client in a PID namespace of its own gives its pid
// inside (1). A client over TCP has no pid there; its _NET_WM_PID counts
// only when WM_CLIENT_MACHINE, of any text type, names this machine.
TEST(X11Windows, OwnerIsTheClientsHostPidElseNetWmPidOfThisMachine)
{
	TestWindows client;
	const uint32_t pid = static_cast<uint32_t>(client.pid());
	EXPECT_EQ(platform::WindowProcessId(client.Open("with pid")), pid);
	EXPECT_EQ(platform::WindowProcessId(client.OpenWith("open-nopid", "without")), pid);
	EXPECT_EQ(platform::WindowProcessId(client.OpenWith("open-pid", "4242 claims")), pid);

	TestWindows sandboxed({"unshare", "--pid", "--fork"});
	const uint32_t boxed = sandboxed.Open("sandboxed");
	EXPECT_EQ(Shell("xprop -id " + std::to_string(boxed) + " _NET_WM_PID"),
		  "_NET_WM_PID(CARDINAL) = 1\n");
	const uint32_t host_pid = platform::WindowProcessId(boxed);
	EXPECT_EQ(std::to_string(host_pid) + "\n",
		  Shell("pgrep -P " + std::to_string(sandboxed.pid())));
	EXPECT_EQ(ExeNameOf(host_pid), "vorlix-test-windows");

	TestWindows remote({"env", "DISPLAY=localhost" + std::string(std::getenv("DISPLAY"))});
	const uint32_t far = remote.OpenWith("open-pid", "4242 over tcp");
	const std::string xprop = "xprop -id " + std::to_string(far);
	Shell(xprop + " -remove WM_CLIENT_MACHINE");
	EXPECT_EQ(platform::WindowProcessId(far), 0u);
	const std::string set_machine = xprop + " -f WM_CLIENT_MACHINE ";
	for (const auto &[type, machine, expected] :
	     {std::tuple<std::string, std::string, uint32_t>{"8s", "elsewhere.invalid", 0u},
	      {"8s", "\"$(hostname)\"", 4242u},
	      {"8u", "\"$(hostname)\"", 4242u}}) {
		Shell(set_machine + type + " -set WM_CLIENT_MACHINE " + machine);
		EXPECT_EQ(platform::WindowProcessId(far), expected) << type << " " << machine;
	}
}

// A screen locker's override-redirect window covers the screen; the focus
// and _NET_ACTIVE_WINDOW stay on the window below. It is the foreground
// window until it goes.
TEST(X11Windows, ScreenLockerIsTheForegroundWindowWhileItCoversTheScreen)
{
	TestWindows client;
	const uint32_t below = client.Open("Report draft");
	ASSERT_TRUE(client.Activate(below));
	const std::string locker = Shell("i3lock -n >/dev/null 2>&1 & echo $!");
	const uint32_t locker_pid = static_cast<uint32_t>(std::stoul(locker));
	WindowHandle foreground = 0;
	EXPECT_TRUE(Eventually([&] {
		foreground = platform::ForegroundWindow();
		return platform::WindowProcessId(foreground) == locker_pid;
	}));
	EXPECT_EQ(ExeNameOf(locker_pid), "i3lock");
	EXPECT_EQ(XpropWindows("-root _NET_ACTIVE_WINDOW"), std::vector<WindowHandle>{below});
	const std::vector<WindowHandle> listed = ListWindows();
	EXPECT_NE(std::find(listed.begin(), listed.end(), foreground), listed.end());

	Shell("kill " + locker);
	EXPECT_TRUE(Eventually([&] { return platform::ForegroundWindow() == below; }));
}

// A managed window shown over the whole screen is no locker, though its
// frame covers the screen from the top: the foreground is the window.
TEST(X11Windows, NeitherAFullscreenFrameNorAnInputOnlyCoverIsALocker)
{
	TestWindows client;
	const uint32_t film = client.Open("Film");
	ASSERT_TRUE(client.Activate(film));
	ASSERT_EQ(client.Command("fullscreen " + std::to_string(film)),
		  "fullscreen " + std::to_string(film));
	client.Command("sync");
	EXPECT_TRUE(Eventually([&] { return WindowId(platform::ForegroundWindow()) == film; }));
	EXPECT_STREQ(platform::ForegroundSource(),
		     "_NET_ACTIVE_WINDOW of the EWMH window manager");
	// Nor is an InputOnly window over everything: it shows nothing.
	ASSERT_EQ(client.Command("cover-input-only Input catcher").rfind("window ", 0), 0u);
	client.Command("sync");
	EXPECT_EQ(WindowId(platform::ForegroundWindow()), film);
}

// Two screens, openbox on screen 0 only: a window focused on screen 1 is
// the foreground window although screen 0's _NET_ACTIVE_WINDOW stays.
TEST(X11Windows, ForegroundIsLookedForOnTheScreenThatHoldsTheFocus)
{
	TestWindows client;
	const uint32_t first = client.Open("on screen 0");
	ASSERT_TRUE(client.Activate(first));
	TestWindows second({"env", "DISPLAY=" + std::string(std::getenv("DISPLAY")) + ".1"});
	const uint32_t other = second.Open("on screen 1");
	Shell("xdotool windowfocus --sync " + std::to_string(other));
	WindowHandle foreground = 0;
	EXPECT_TRUE(Eventually([&] {
		foreground = platform::ForegroundWindow();
		return WindowId(foreground) == other;
	}));
	EXPECT_EQ(Title(foreground), u"on screen 1");
	const std::vector<WindowHandle> listed = ListWindows();
	EXPECT_NE(std::find(listed.begin(), listed.end(), foreground), listed.end());

	ASSERT_TRUE(client.Activate(first));
	EXPECT_TRUE(Eventually([&] { return WindowId(platform::ForegroundWindow()) == first; }));
}

TEST(X11Windows, WindowsThatDoNotExistReadAsNothing)
{
	TestWindows client;
	const uint32_t closed = client.Open("short-lived");
	client.Close(closed);
	for (const WindowHandle w : {WindowHandle{0}, WindowHandle{closed}, WindowHandle{0x1fffffff},
				     static_cast<WindowHandle>(0x100000000ull)}) {
		EXPECT_EQ(Title(w), u"") << w;
		EXPECT_EQ(platform::WindowProcessId(w), 0u) << w;
	}
	EXPECT_FALSE(platform::WindowSystemLost());
}

TEST(X11Windows, WindowsDestroyedDuringAnEnumerationReadAsNothing)
{
	TestWindows client;
	const std::vector<uint32_t> opened = client.OpenMany(4, "doomed");
	ASSERT_EQ(opened.size(), 4u);
	struct Walk {
		TestWindows *client;
		std::vector<uint32_t> doomed;
		std::map<WindowHandle, std::u16string> titles;
		std::map<WindowHandle, uint32_t> pids;
	} walk{&client, {opened.begin() + 1, opened.end()}, {}, {}};
	// At the first window, the others are destroyed; the walk goes on.
	EXPECT_TRUE(platform::EnumTopLevelWindows(
		[](WindowHandle w, std::intptr_t user) {
			auto *walk = reinterpret_cast<Walk *>(user);
			for (const uint32_t d : walk->doomed)
				walk->client->Close(d);
			walk->doomed.clear();
			walk->titles[w] = Title(w);
			walk->pids[w] = platform::WindowProcessId(w);
			return true;
		},
		reinterpret_cast<std::intptr_t>(&walk)));
	EXPECT_EQ(walk.titles[opened[0]], u"doomed 1");
	for (size_t i = 1; i < opened.size(); ++i) {
		EXPECT_EQ(walk.titles[opened[i]], u"");
		EXPECT_EQ(walk.pids[opened[i]], 0u);
	}
	EXPECT_FALSE(platform::WindowSystemLost());
}

// Every read during the churn names a window of the client, whole or gone
// (empty, pid 0), never another window's answer; the steady one reads right
// every time.
TEST(X11Windows, ChurningWindowsNeverBreakTheSampling)
{
	TestWindows client;
	const uint32_t steady = client.Open("steady");
	std::atomic<bool> done{false};
	std::string churned;
	std::thread churn([&] {
		churned = client.Command("churn 2000 400");
		done = true;
	});
	int steady_reads = 0, wrong = 0;
	while (!done) {
		for (const WindowHandle w : ListWindows()) {
			const std::u16string title = Title(w);
			const uint32_t pid = platform::WindowProcessId(w);
			const bool mine = static_cast<uint32_t>(w) == steady;
			steady_reads += mine;
			wrong += mine ? title != u"steady" || pid != uint32_t(client.pid())
				      : !(title.empty() || title.rfind(u"churn ", 0) == 0) ||
					(pid != 0 && pid != uint32_t(client.pid()));
			platform::ForegroundWindow();
		}
	}
	churn.join();
	EXPECT_EQ(churned.rfind("churned ", 0), 0u) << churned;
	EXPECT_GT(steady_reads, 0);
	EXPECT_EQ(wrong, 0);
	EXPECT_FALSE(platform::WindowSystemLost());
	EXPECT_TRUE(Eventually([] { return ListWindows() == XpropWindows("-root _NET_CLIENT_LIST"); }));
}

// A window manager killed outright leaves its _NET_ACTIVE_WINDOW behind;
// then, and under twm, which keeps no EWMH properties, the input focus
// (set here by xdotool) tells the foreground window, walked up to the
// client that twm's frame holds.
TEST(X11Windows, ForegroundFollowsTheInputFocusWithoutALiveEwmhWindowManager)
{
	TestWindows client;
	const uint32_t a = client.Open("A"), b = client.Open("B");
	ASSERT_TRUE(client.Activate(a));
	EXPECT_EQ(WindowId(platform::ForegroundWindow()), a);
	const std::string ewmh = platform::ForegroundSource();

	Shell("kill -KILL $VORLIX_WM_PID");
	Shell("xdotool windowfocus --sync " + std::to_string(b));
	EXPECT_EQ(XpropWindows("-root _NET_ACTIVE_WINDOW"), std::vector<WindowHandle>{a});
	EXPECT_TRUE(Eventually([&] { return WindowId(platform::ForegroundWindow()) == b; }));
	EXPECT_NE(platform::ForegroundSource(), ewmh);

	Shell("twm >/dev/null 2>&1 &");
	char b_id[16];
	std::snprintf(b_id, sizeof(b_id), "0x%x ", b);
	ASSERT_TRUE(Eventually([&] {
		return Shell("xwininfo -root -children").find(b_id) == std::string::npos;
	})) << "twm has not framed the windows";
	Shell("xdotool windowfocus --sync " + std::to_string(a));
	WindowHandle foreground = 0;
	EXPECT_TRUE(Eventually([&] {
		foreground = platform::ForegroundWindow();
		return WindowId(foreground) == a;
	}));
	const std::vector<WindowHandle> listed = ListWindows();
	EXPECT_NE(std::find(listed.begin(), listed.end(), foreground), listed.end());
	EXPECT_EQ(Title(foreground), u"A");
}

// A Windows program under Wine is named by its Windows executable.
TEST(X11Windows, WineProgramIsNamedByItsWindowsExecutable)
{
	const std::string wine = Shell(ShellQuote(VORLIX_SOURCE_DIR "/tests/wine/run-under-wine") +
				       " x86_64 notepad >/dev/null 2>&1 & echo $!");
	std::string name;
	for (int i = 0; i < 900 && name != "notepad.exe"; ++i) {
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
		name = ExeNameOf(platform::WindowProcessId(platform::ForegroundWindow()));
	}
	Shell("kill " + wine + "; while kill -0 " + wine + " 2>/dev/null; do sleep 0.1; done");
	EXPECT_EQ(name, "notepad.exe");
}
