// The foreground-window sampler over real windows (Xvfb with openbox) and a
// real record file below a temporary application-data folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "monitor/window-monitor.h"
#include "store/monitor-db.h"
#include "tests/store/store-testing.h"
#include "tests/support/log-capture.h"
#include "tests/support/test-support.h"
#include "tests/support/test-windows-client.h"

using namespace testing_support;
using store_testing::ReadRows;

namespace {

const char kKey[] = "sampler-key-16by";
const char kClient[] = "vorlix-test-windows";

class Sampler : public ::testing::Test {
protected:
	void SetUp() override
	{
		store_testing::InstallQtApplication();
		SharedSample::SetUserInfo(12, 7);
		SharedSample::SetRecordDir("rec");
		SharedSample::SetCipherKey(kKey);
		SharedSample::ActiveInfo.last_window = 0;
		SharedSample::ActiveInfo.check_tm = 1000;
		SharedSample::ActiveInfo.active_tm = 990;
		mkdir((home / "rec").c_str(), 0755);
	}
	void TearDown() override { RemoveMonitorConnection(); }

	void Tick()
	{
		platform::EnumTopLevelWindows(CheckActiveWindow, 0);
		++SharedSample::ActiveInfo.check_tm;
	}
	std::vector<store_testing::Row> Rows()
	{
		return ReadRows(home / "rec/12.6.mon.db");
	}
	std::vector<std::string> ChangeLines()
	{
		return log.Texts(LOG_INFO, "CheckActiveWindow ");
	}
	std::string ChangeLine(const std::string &title,
			       const std::string &process = kClient)
	{
		return "CheckActiveWindow window_title:" + title +
		       " window_process:" + process;
	}
	// The window client sees its window activated before this process's
	// X connection has the events that say so: a tick waits for the layer
	// itself to answer the window as the listed foreground one.
	bool Front(TestWindows &client, uint32_t window)
	{
		return client.Activate(window) && WaitUntil([&] {
			       return static_cast<uint32_t>(platform::ForegroundWindow()) ==
					      window &&
				      Listed(window);
		       });
	}
	template <typename Check> static bool WaitUntil(Check check)
	{
		for (int i = 0; i < 1000; ++i) {
			if (check())
				return true;
			usleep(10 * 1000);
		}
		return false;
	}
	bool Front(uint32_t window) { return Front(windows, window); }
	static bool Listed(uint32_t window)
	{
		struct Search {
			uint32_t window;
			bool found;
		} search{window, false};
		platform::EnumTopLevelWindows(
			[](platform::WindowHandle w, std::intptr_t user) {
				auto *s = reinterpret_cast<Search *>(user);
				s->found = s->found || static_cast<uint32_t>(w) == s->window;
				return true;
			},
			reinterpret_cast<std::intptr_t>(&search));
		return search.found;
	}

	TempConfigHome home;
	LogCapture log;
	TestWindows windows;
};

std::string Decrypt(const std::string &stored)
{
	return store_testing::OpensslDecrypt(stored, kKey);
}

pid_t EndedProcess()
{
	const pid_t pid = fork();
	if (pid == 0)
		_exit(0);
	waitpid(pid, nullptr, 0);
	return pid;
}

} // namespace

TEST_F(Sampler, TitlesAreReadAsTheyAreOrGiveADash)
{
	const std::string long_title(200, 'L');
	const struct {
		const char *verb;
		std::string title;
		std::string stored;
	} cases[] = {
		{"open", "", "-"},
		{"open", long_title, long_title.substr(0, 148)},
		{"open", "Gr\xc3\xbc\xc3\x9f" "e \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80",
		 "Gr\xc3\xbc\xc3\x9f" "e \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80"},
		{"open-latin1", "Caf\xc3\xa9", "Caf\xc3\xa9"},
		{"open-nopid", "no pid property", "no pid property"},
	};
	size_t expected_rows = 0;
	for (const auto &c : cases) {
		ASSERT_TRUE(Front(windows.OpenWith(c.verb, c.title)));
		log.clear();
		Tick();
		const auto rows = Rows();
		ASSERT_EQ(rows.size(), ++expected_rows) << c.verb << " " << c.title;
		EXPECT_EQ(rows.back().title, c.stored);
		// X-Resource finds the owner when the window names no pid
		EXPECT_EQ(Decrypt(rows.back().process), kClient);
		EXPECT_EQ(rows.back().member_id, 7);
		EXPECT_EQ(ChangeLines(),
			  std::vector<std::string>{ChangeLine(c.stored)});
	}
}

// A line break in a title would start a forged, time-stamped log line; an
// escape sequence would drive the terminal that shows the log.
TEST_F(Sampler, ControlCharactersAreEscapedInTheLogAndStoredAsTheyAre)
{
	const std::string exe = "odd\tname\n\x1b[2J";
	std::filesystem::copy_file(BinPath(kClient), home / exe);
	TestWindows odd(home / exe);
	// U+2027 | U+2028 U+2029 U+202A U+202E | U+202F U+2065 | U+2066 U+2069 |
	// U+206A: the separators and bidirectional controls are escaped, their
	// neighbours are not; a backslash is doubled, so "\\n" and a line break
	// read apart.
	const std::string title = "Draft\n12:00:00.000: app quit with signal:2"
				  "\r\t\x1b[31m\x7f\xc2\x9f\xc2\xa0\xc3\xbc"
				  " \xe2\x80\xa7\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xaa\xe2\x80\xae"
				  "\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xa6\xe2\x81\xa9\xe2\x81\xaa"
				  " C:\\new";
	ASSERT_TRUE(Front(odd, odd.OpenWith("open-raw", "UTF8_STRING " + Hex(title))));
	Tick();
	const auto rows = Rows();
	ASSERT_EQ(rows.size(), 1u);
	EXPECT_EQ(rows[0].title, title);
	EXPECT_EQ(Decrypt(rows[0].process), exe);
	EXPECT_EQ(ChangeLines(),
		  std::vector<std::string>{ChangeLine(
			  "Draft\\n12:00:00.000: app quit with signal:2"
			  "\\r\\t\\x1B[31m\\x7F\\x9F\xc2\xa0\xc3\xbc"
			  " \xe2\x80\xa7\\u2028\\u2029\\u202A\\u202E"
			  "\xe2\x80\xaf\xe2\x81\xa5\\u2066\\u2069\xe2\x81\xaa"
			  " C:\\\\new",
			  "odd\\tname\\n\\x1B[2J")});
}

// An executable's name keeps 149 units; when the 149th is the first half of
// a pair, the pair goes whole rather than leave half a character behind.
TEST_F(Sampler, LongExecutableNamesKeep149UnitsAndNeverHalfAPair)
{
	const std::string a148(148, 'a');
	for (const auto &[exe, stored] :
	     {std::pair<std::string, std::string>{a148 + "b\xf0\x9f\x98\x80", a148 + "b"},
	      {a148 + "\xf0\x9f\x98\x80" "b", a148}}) {
		std::filesystem::copy_file(BinPath(kClient), home / exe);
		TestWindows named(home / exe);
		ASSERT_TRUE(Front(named, named.Open("t")));
		Tick();
		EXPECT_EQ(Decrypt(Rows().back().process), stored);
	}
}

TEST_F(Sampler, SameWindowGivesARowPerTickAndOneChangeLine)
{
	ASSERT_TRUE(Front(windows.Open("steady")));
	for (int i = 0; i < 10; ++i)
		Tick();
	const auto rows = Rows();
	ASSERT_EQ(rows.size(), 10u);
	for (int i = 0; i < 10; ++i) {
		EXPECT_EQ(rows[i].title, "steady");
		EXPECT_EQ(rows[i].check_tm, 1000 + i);
	}
	EXPECT_EQ(ChangeLines().size(), 1u);
}

TEST_F(Sampler, TitleIsReadOnlyWhenTheForegroundWindowChanges)
{
	const uint32_t a = windows.Open("A first");
	const uint32_t b = windows.Open("B");
	ASSERT_TRUE(Front(a));
	Tick();
	// A title change while the window stays in front is not seen ...
	windows.Command("rename " + std::to_string(a) + " A second");
	windows.Command("sync");
	Tick();
	ASSERT_TRUE(Front(b));
	Tick();
	// ... but coming back to A reads it again.
	ASSERT_TRUE(Front(a));
	Tick();
	const auto rows = Rows();
	ASSERT_EQ(rows.size(), 4u);
	EXPECT_EQ(rows[0].title, "A first");
	EXPECT_EQ(rows[1].title, "A first");
	EXPECT_EQ(rows[2].title, "B");
	EXPECT_EQ(rows[3].title, "A second");
	EXPECT_EQ(ChangeLines(), (std::vector<std::string>{
					 ChangeLine("A first"), ChangeLine("B"),
					 ChangeLine("A second")}));
}

// X gives a new client the ids of one that has gone: the window opened by
// the next client is a new window, though its id is the same.
TEST_F(Sampler, WindowThatTakesOverAClosedWindowsIdIsReadAfresh)
{
	const uint32_t first = windows.Open("First dialog");
	ASSERT_TRUE(Front(first));
	Tick();
	const platform::WindowHandle old = platform::ForegroundWindow();
	windows.Kill();
	TestWindows next;
	const uint32_t second = next.Open("Second dialog");
	ASSERT_EQ(second, first) << "the server gave the new client other ids";
	ASSERT_TRUE(Front(next, second));
	ASSERT_TRUE(WaitUntil([&] { return platform::ForegroundWindow() != old; }));
	Tick();
	const auto rows = Rows();
	ASSERT_EQ(rows.size(), 2u);
	EXPECT_EQ(rows[1].title, "Second dialog");
}

TEST_F(Sampler, NoForegroundWindowWritesNothing)
{
	Tick();
	Tick();
	EXPECT_FALSE(Exists(home / "rec/12.6.mon.db"));
	EXPECT_TRUE(log.entries().empty());
}

// The server knows no pid for a client over TCP; the window's _NET_WM_PID
// names a process of this machine that has ended.
TEST_F(Sampler, ProcessThatHasEndedGivesADash)
{
	const pid_t gone = EndedProcess();
	TestWindows tcp({"env", "DISPLAY=localhost" + std::string(std::getenv("DISPLAY"))});
	ASSERT_TRUE(Front(tcp, tcp.OpenWith("open-pid", std::to_string(gone) + " orphan")));
	Tick();
	const auto rows = Rows();
	ASSERT_EQ(rows.size(), 1u);
	EXPECT_EQ(rows[0].title, "orphan");
	EXPECT_EQ(Decrypt(rows[0].process), "-");
	EXPECT_EQ(ChangeLines(), std::vector<std::string>{ChangeLine("orphan", "-")});
}

namespace {

TestWindows *churn = nullptr;
std::vector<uint32_t> doomed;

// Destroys the other windows while the enumeration is under way.
bool CloseOthersThenSample(platform::WindowHandle window, std::intptr_t user)
{
	for (uint32_t id : doomed)
		churn->Close(id);
	doomed.clear();
	return CheckActiveWindow(window, user);
}

} // namespace

TEST_F(Sampler, WindowsDestroyedDuringTheEnumerationCauseNoError)
{
	doomed = windows.OpenMany(20, "doomed");
	ASSERT_EQ(doomed.size(), 20u);
	const uint32_t survivor = windows.Open("survivor");
	ASSERT_TRUE(Front(survivor));
	churn = &windows;
	platform::EnumTopLevelWindows(CloseOthersThenSample, 0);
	// The window manager may clear the active window for a moment while
	// it handles the closings, so that walk may or may not write a row;
	// the next one does.
	windows.Command("sync");
	const size_t during = Rows().size();
	EXPECT_LE(during, 1u);
	ASSERT_TRUE(Front(survivor));
	Tick();
	const auto rows = Rows();
	ASSERT_EQ(rows.size(), during + 1);
	for (const auto &row : rows)
		EXPECT_EQ(row.title, "survivor");
	// the only error is the first write's, which creates the table
	for (const auto &text : log.Texts(LOG_ERROR))
		EXPECT_EQ(text.rfind("InsertTable err_msg:", 0), 0u) << text;
	EXPECT_LE(log.Texts(LOG_ERROR).size(), 1u);
}
