// The process behind a Wayland window known only by its app_id: real
// processes (copies of sleep under the names of real programs) and real
// desktop entries in a private XDG data folder. The known answer is the pid
// of the process this test started.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/app-process.h"
#include "tests/support/test-support.h"

using namespace testing_support;

namespace {

// A private desktop: programs in bin/, desktop entries in the user's and
// the system's data folders; the processes started end with it.
class Desktop {
public:
	Desktop()
	{
		Shell("chmod 755 " + ShellQuote(dir_.path()) + " && mkdir -p " +
		      ShellQuote(dir_ / "bin") + " " + ShellQuote(dir_ / "home/applications") +
		      " " + ShellQuote(dir_ / "system/applications"));
		Set("XDG_DATA_HOME", dir_ / "home");
		Set("XDG_DATA_DIRS", dir_ / "system");
	}
	~Desktop()
	{
		for (const pid_t pid : pids_) {
			kill(pid, SIGKILL);
			waitpid(pid, nullptr, 0);
		}
		for (const auto &[name, value] : saved_) {
			if (value.empty())
				unsetenv(name.c_str());
			else
				setenv(name.c_str(), value.c_str(), 1);
		}
	}

	// A copy of sleep named `name` in bin/; its path.
	std::string Program(const std::string &name)
	{
		const std::string path = dir_ / ("bin/" + name);
		if (!Exists(path))
			Shell("cp /bin/sleep " + ShellQuote(path));
		return path;
	}

	// Runs the program `name` (as the user `uid`, else as this user) until
	// the end of the test; its pid once it runs.
	uint32_t Run(const std::string &name, uid_t uid = getuid())
	{
		const std::string path = Program(name);
		const pid_t pid = fork();
		if (pid == 0) {
			if (uid != getuid() && (setgid(uid) != 0 || setuid(uid) != 0))
				_exit(126);
			execl(path.c_str(), path.c_str(), "600", static_cast<char *>(nullptr));
			_exit(127);
		}
		pids_.push_back(pid);
		const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
		for (int i = 0; i < 500 && Shell("readlink " + exe) != path + "\n"; ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		return static_cast<uint32_t>(pid);
	}

	// A desktop entry in the user's ("home") or the system's data folder.
	void Entry(const std::string &folder, const std::string &app_id, const std::string &body)
	{
		WriteFile(dir_ / (folder + "/applications/" + app_id + ".desktop"),
			  "[Desktop Entry]\nType=Application\nName=" + app_id + "\n" + body);
	}

	std::string operator/(const std::string &name) const { return dir_ / name; }

private:
	void Set(const std::string &name, const std::string &value)
	{
		const char *old = std::getenv(name.c_str());
		saved_.push_back({name, old ? old : ""});
		setenv(name.c_str(), value.c_str(), 1);
	}

	TempDir dir_;
	std::vector<pid_t> pids_;
	std::vector<std::pair<std::string, std::string>> saved_;
};

// A program name of this test's own ("foot-PID"): every process of this
// user counts, so a real foot or another test's copy running beside this
// test would be the same program to the rule.
std::string Own(const std::string &name)
{
	return name + "-" + std::to_string(getpid());
}

} // namespace

// foot, chromium, firefox-esr: the app_id is the executable's file name.
TEST(ApplicationProcess, AppIdIsTheExecutablesNameCaseAside)
{
	Desktop desktop;
	const std::string name = Own("foot");
	const uint32_t foot = desktop.Run(name);
	EXPECT_EQ(platform::ApplicationProcess(name), foot);
	std::string upper = name;
	for (char &c : upper)
		c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
	EXPECT_EQ(platform::ApplicationProcess(upper), foot);
	EXPECT_EQ(platform::ApplicationProcess(name.substr(0, name.size() - 1)), 0u);
	EXPECT_EQ(platform::ApplicationProcess(name + "2"), 0u);
	EXPECT_EQ(platform::ApplicationProcess(""), 0u);
}

// Two windows of one program may come from two processes: either names it.
// Two programs whose names differ only in case leave it open.
TEST(ApplicationProcess, SeveralProcessesNameOneProgramOrNone)
{
	Desktop desktop;
	const std::string foot = Own("foot");
	const std::set<uint32_t> feet = {desktop.Run(foot), desktop.Run(foot)};
	EXPECT_EQ(feet.count(platform::ApplicationProcess(foot)), 1u);

	desktop.Run(Own("Tool"));
	desktop.Run(Own("tool"));
	EXPECT_EQ(platform::ApplicationProcess(Own("tool")), 0u);
}

// GNOME-style ids name the program through the desktop entry: the user's
// entry hides the system's; quotes, escapes, env and field codes are read
// as freedesktop.org's desktop-entry format has them.
TEST(ApplicationProcess, DesktopEntryNamesTheRunningProgram)
{
	Desktop desktop;
	const uint32_t editor = desktop.Run("gnome-text-editor");
	const uint32_t old_editor = desktop.Run("old-editor");
	desktop.Entry("system", "org.gnome.TextEditor", "Exec=old-editor %U\n");
	EXPECT_EQ(platform::ApplicationProcess("org.gnome.TextEditor"), old_editor);
	desktop.Entry("home", "org.gnome.TextEditor", "Exec = gnome-text-editor --new-window %U\n");
	EXPECT_EQ(platform::ApplicationProcess("org.gnome.TextEditor"), editor);

	const uint32_t spaced = desktop.Run("my app");
	desktop.Entry("home", "org.example.Spaced",
		      "Exec=env GDK_BACKEND=wayland LANG=C \"" + desktop / "bin/my app" +
			      "\" --open=\"a\\\\\\\\b\" %F\n");
	EXPECT_EQ(platform::ApplicationProcess("org.example.Spaced"), spaced);

	// A key of another group, a hidden entry: nothing from them.
	desktop.Entry("home", "org.example.Action",
		      "[Desktop Action new]\nExec=gnome-text-editor\n");
	EXPECT_EQ(platform::ApplicationProcess("org.example.Action"), 0u);
	desktop.Entry("system", "org.example.Hidden", "Exec=gnome-text-editor\n");
	desktop.Entry("home", "org.example.Hidden", "Exec=gnome-text-editor\nHidden=true\n");
	EXPECT_EQ(platform::ApplicationProcess("org.example.Hidden"), 0u);
}

// Firefox: Exec names /usr/bin/firefox, a link to the executable that runs.
TEST(ApplicationProcess, ProgramThroughALinkIsTheFileItLeadsTo)
{
	Desktop desktop;
	const uint32_t browser = desktop.Run("browser-bin");
	Shell("ln -s browser-bin " + ShellQuote(desktop / "bin/browser"));
	desktop.Entry("home", "org.example.Browser", "Exec=" + desktop / "bin/browser" + " %u\n");
	EXPECT_EQ(platform::ApplicationProcess("org.example.Browser"), browser);

	const std::string path = std::getenv("PATH");
	setenv("PATH", (desktop / "bin:" + path).c_str(), 1);
	desktop.Entry("home", "org.example.Searched", "Exec=browser\n");
	const uint32_t found = platform::ApplicationProcess("org.example.Searched");
	setenv("PATH", path.c_str(), 1);
	EXPECT_EQ(found, browser);
}

// Flatpak's exported entries run `flatpak run --command=PROGRAM ... APP`:
// the program is found only where the entry names it. A shell's command
// line names no program, whatever runs.
TEST(ApplicationProcess, FlatpakCommandCountsAndShellsNameNothing)
{
	Desktop desktop;
	const uint32_t tux = desktop.Run("tuxpaint");
	desktop.Entry("home", "org.tuxpaint.Tuxpaint",
		      "Exec=/usr/bin/flatpak run --branch=stable --arch=x86_64 --command=tuxpaint "
		      "--file-forwarding org.tuxpaint.Tuxpaint @@u %U @@\n");
	EXPECT_EQ(platform::ApplicationProcess("org.tuxpaint.Tuxpaint"), tux);
	desktop.Entry("home", "org.example.NoCommand", "Exec=flatpak run org.example.NoCommand\n");
	EXPECT_EQ(platform::ApplicationProcess("org.example.NoCommand"), 0u);

	desktop.Run("sh");
	desktop.Entry("home", "org.example.Shelled", "Exec=sh -c \"exec tuxpaint\"\n");
	EXPECT_EQ(platform::ApplicationProcess("org.example.Shelled"), 0u);
}

// Nothing outside the applications/ folders, and no other user's process.
TEST(ApplicationProcess, NeitherOtherFoldersNorOtherUsersCount)
{
	Desktop desktop;
	desktop.Run("lurker");
	WriteFile(desktop / "home/escape.desktop", "[Desktop Entry]\nExec=lurker\n");
	EXPECT_EQ(platform::ApplicationProcess("../escape"), 0u);

	if (getuid() != 0)
		GTEST_SKIP() << "needs root to run a process as another user";
	desktop.Run("stranger", 65534);
	EXPECT_EQ(platform::ApplicationProcess("stranger"), 0u);
	EXPECT_FALSE(platform::UserRunsProgram("stranger"));
	EXPECT_TRUE(platform::UserRunsProgram("lurker"));
}
