// The Linux layer outside X: the process snapshot, debugger output and
// run-time library loading. Known answers come from /proc read by the shell
// and from files this test creates.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <map>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/utf16-text.h"
#include "tests/support/test-support.h"

using namespace testing_support;

namespace {

// pid -> executable name, from one snapshot walked to its end.
std::map<uint32_t, std::string> Snapshot()
{
	std::map<uint32_t, std::string> processes;
	platform::ProcessSnapshot *snapshot = platform::OpenProcessSnapshot();
	EXPECT_NE(snapshot, nullptr);
	platform::ProcessEntry entry{};
	for (bool more = platform::FirstProcess(snapshot, &entry); more;
	     more = platform::NextProcess(snapshot, &entry))
		processes[entry.pid] = platform::text::Utf16ToUtf8(entry.exe_file);
	platform::CloseProcessSnapshot(snapshot);
	return processes;
}

pid_t Spawn(const std::string &program, const std::string &argument)
{
	const pid_t pid = fork();
	if (pid == 0) {
		execl(program.c_str(), program.c_str(), argument.c_str(),
		      static_cast<char *>(nullptr));
		_exit(127);
	}
	return pid;
}

// Waits until the kernel shows the process in `state` (e.g. 'Z').
bool WaitForState(pid_t pid, char state)
{
	for (int i = 0; i < 500; ++i) {
		const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
		const size_t close = stat.rfind(')');
		if (close != std::string::npos && close + 2 < stat.size() &&
		    stat[close + 2] == state)
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return false;
}

// Waits until the child runs `name` (the kernel keeps its first 15 bytes).
bool WaitForExec(pid_t pid, const std::string &name)
{
	const std::string comm = name.substr(0, 15) + "\n";
	for (int i = 0; i < 500; ++i) {
		if (ReadFile("/proc/" + std::to_string(pid) + "/comm") == comm)
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return false;
}

void KillAndReap(pid_t pid)
{
	kill(pid, SIGKILL);
	waitpid(pid, nullptr, 0);
}

} // namespace

TEST(ProcessSnapshot, ListsThisProcessUnderItsExecutableFileName)
{
	EXPECT_EQ(Snapshot()[static_cast<uint32_t>(getpid())], "platform-posix-test");
}

TEST(ProcessSnapshot, ProcessThatHasEndedIsNotListed)
{
	const pid_t running = Spawn("/bin/sleep", "30");
	ASSERT_TRUE(WaitForExec(running, "sleep"));
	EXPECT_EQ(Snapshot()[static_cast<uint32_t>(running)], "sleep");

	// Taken while it ran, walked after it ended: left out as well.
	platform::ProcessSnapshot *snapshot = platform::OpenProcessSnapshot();
	KillAndReap(running);
	platform::ProcessEntry entry{};
	for (bool more = platform::FirstProcess(snapshot, &entry); more;
	     more = platform::NextProcess(snapshot, &entry))
		EXPECT_NE(entry.pid, static_cast<uint32_t>(running));
	platform::CloseProcessSnapshot(snapshot);
	EXPECT_EQ(Snapshot().count(static_cast<uint32_t>(running)), 0u);
}

TEST(ProcessSnapshot, ZombieIsNotListed)
{
	const pid_t zombie = Spawn("/bin/sleep", "30");
	kill(zombie, SIGKILL);
	ASSERT_TRUE(WaitForState(zombie, 'Z'));
	EXPECT_EQ(Snapshot().count(static_cast<uint32_t>(zombie)), 0u);
	waitpid(zombie, nullptr, 0);
}

TEST(ProcessSnapshot, ExecutableNamesKeepSpacesLengthAndDeletion)
{
	TempDir dir;
	const struct {
		std::string name;
		bool delete_file;
	} cases[] = {
		{"vorlix sleeper", false},
		{"vorlix sleeper gone", true}, // the kernel adds " (deleted)"
		{"s\xc3\xa9jour \xe4\xb8\xad", false},
		{std::string(255, 'n'), false}, // the longest file name there is
	};
	for (const auto &c : cases) {
		const std::string path = dir / c.name;
		ASSERT_EQ(Shell("cp /bin/sleep '" + path + "' && echo ok"), "ok\n");
		const pid_t pid = Spawn(path, "30");
		ASSERT_TRUE(WaitForExec(pid, c.name));
		if (c.delete_file)
			unlink(path.c_str());
		EXPECT_EQ(Snapshot()[static_cast<uint32_t>(pid)], c.name);
		KillAndReap(pid);
	}
}

TEST(ProcessSnapshot, ProcessWithoutReadableExecutableIsNamedByItsCommand)
{
	// Kernel threads have no executable; the shell finds one and its comm.
	const std::string found = Shell(
		"for p in /proc/[0-9]*; do readlink $p/exe >/dev/null 2>&1 && continue; "
		"s=$(cut -d' ' -f3 $p/stat 2>/dev/null); [ \"$s\" = I ] || [ \"$s\" = S ] || continue; "
		"echo ${p#/proc/} $(cat $p/comm); break; done");
	if (found.empty())
		GTEST_SKIP() << "no process without a readable executable here";
	const size_t space = found.find(' ');
	const uint32_t pid = static_cast<uint32_t>(std::stoul(found.substr(0, space)));
	const std::string comm = found.substr(space + 1, found.size() - space - 2);
	EXPECT_EQ(Snapshot()[pid], comm);
}

// Another user's executable cannot be read, and the kernel's comm is cut to
// 15 bytes ("partition-edito"); the first argument names the program whole,
// unless the program has rewritten it. Root's processes, read as nobody.
TEST(ProcessSnapshot, AnotherUsersProcessIsNamedByItsWholeFirstArgument)
{
	if (getuid() != 0)
		GTEST_SKIP() << "needs root to read as another user";
	TempDir dir;
	const std::string name = "partition-editor-long", path = dir / name;
	ASSERT_EQ(Shell("cp /bin/sleep " + path + " && echo ok"), "ok\n");
	std::map<pid_t, std::string> expected;
	for (const auto &[first, named] : {std::pair<std::string, std::string>{path, name},
					   {"postgres: writer", "partition-edito"}}) {
		const pid_t pid = fork();
		if (pid == 0) {
			execl(path.c_str(), first.c_str(), "30", static_cast<char *>(nullptr));
			_exit(127);
		}
		ASSERT_TRUE(WaitForExec(pid, name));
		expected[pid] = named;
	}
	int out[2];
	ASSERT_EQ(pipe(out), 0);
	const pid_t reader = fork();
	if (reader == 0) {
		std::string seen;
		if (setgid(65534) == 0 && setuid(65534) == 0)
			for (const auto &[pid, named] : expected)
				seen += Snapshot()[static_cast<uint32_t>(pid)] + "\n";
		_exit(write(out[1], seen.data(), seen.size()) < 0);
	}
	close(out[1]);
	std::string seen(4096, '\0');
	seen.resize(static_cast<size_t>(std::max<ssize_t>(read(out[0], &seen[0], seen.size()), 0)));
	close(out[0]);
	waitpid(reader, nullptr, 0);
	std::string wanted;
	for (const auto &[pid, named] : expected) {
		wanted += named + "\n";
		KillAndReap(pid);
	}
	EXPECT_EQ(seen, wanted);
}

TEST(ProcessSnapshot, NullSnapshotIsHarmless)
{
	platform::ProcessEntry entry{};
	EXPECT_FALSE(platform::FirstProcess(nullptr, &entry));
	EXPECT_FALSE(platform::NextProcess(nullptr, &entry));
	platform::CloseProcessSnapshot(nullptr);
}

TEST(DebugOutput, WritesUtf8ToStandardError)
{
	testing::internal::CaptureStderr();
	platform::DebugOutput(u"CreateToolhelp32Snapshot\u5931\u8d25\n");
	platform::DebugOutput(nullptr);
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
		  "CreateToolhelp32Snapshot\xe5\xa4\xb1\xe8\xb4\xa5\n");
}

TEST(LibraryLoading, HookLibraryIsFoundByBareNameBesideTheProgram)
{
	// This program lies in the build's bin folder beside the library, as
	// the monitor does; nothing else points the loader there.
	platform::LibraryHandle hook = platform::LoadLibraryByName(platform::HookLibraryName());
	ASSERT_NE(hook, nullptr);
	for (const char *name : {"GetLastActiveTime", "SetVorlixHook", "UnSetVorlixHook"})
		EXPECT_NE(platform::LibrarySymbol(hook, name), nullptr) << name;
	EXPECT_EQ(platform::LibrarySymbol(hook, "NoSuchExport"), nullptr);
	platform::FreeLibraryHandle(hook);
}

TEST(LibraryLoading, MissingLibraryOrNameGivesNothing)
{
	EXPECT_EQ(platform::LoadLibraryByName("libvorlix-missing.so"), nullptr);
	EXPECT_EQ(platform::LoadLibraryByName(""), nullptr);
	EXPECT_EQ(platform::LoadLibraryByName(nullptr), nullptr);
	EXPECT_EQ(platform::LibrarySymbol(nullptr, "GetLastActiveTime"), nullptr);
	platform::FreeLibraryHandle(nullptr);
}
