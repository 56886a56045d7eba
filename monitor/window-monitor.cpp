#include "monitor/window-monitor.h"

#include <algorithm>
#include <cwctype>
#include <string>

#include <QCoreApplication>
#include <QString>

#include <util/base.h>

#include "logging/log-handler.h"
#include "paths/app-data-path.h"
#include "platform/utf16-text.h"
#include "store/monitor-db.h"

namespace {

// Reads: "未关注鼠标键盘无响应情况!" (no mouse or keyboard activity seen),
// kept in GBK as the log has always carried it.
const char kNoInputNotice[] =
	"\xce\xb4\xb9\xd8\xd7\xa2\xca\xf3\xb1\xea\xbc\xfc\xc5\xcc\xce\xde"
	"\xcf\xec\xd3\xa6\xc7\xe9\xbf\xf6!";

constexpr int kTextUnits = 150;
constexpr int kMaxCount = kTextUnits - 1;

const char16_t kDash[] = u"-";

// Copies a terminated UTF-16 text into a buffer of kTextUnits units, at most
// kMaxCount of them, never leaving half of a surrogate pair at the end.
void CopyText(char16_t *buffer, const char16_t *text)
{
	const int n = platform::text::CopyTerminated(text, buffer, kTextUnits);
	std::fill(buffer + n, buffer + kTextUnits, u'\0');
}

// The executable's file name of process `pid`, or "-" when it is unknown.
void ReadProcessName(uint32_t pid, char16_t *buffer)
{
	platform::ProcessSnapshot *snapshot = platform::OpenProcessSnapshot();
	if (!snapshot) {
		platform::DebugOutput(u"CreateToolhelp32Snapshot失败\n");
		CopyText(buffer, kDash);
		return;
	}
	platform::ProcessEntry entry{};
	for (bool more = platform::FirstProcess(snapshot, &entry); more;
	     more = platform::NextProcess(snapshot, &entry)) {
		if (entry.pid == pid) {
			CopyText(buffer, entry.exe_file);
			platform::CloseProcessSnapshot(snapshot);
			return;
		}
	}
	platform::CloseProcessSnapshot(snapshot);
	CopyText(buffer, kDash);
}

// Says once where the foreground window comes from, and again whenever
// that changes: without a window manager that keeps an active window,
// nothing may be in the foreground, and the log says why.
void LogForegroundSource()
{
	static std::string logged;
	const char *source = platform::ForegroundSource();
	if (source && logged != source) {
		logged = source;
		blog(LOG_INFO, "foreground window from %s", source);
	}
}

// Valid UTF-8 whatever the window holds: a lone surrogate becomes U+FFFD.
std::string Utf8(const char16_t *text)
{
	return platform::text::Utf16ToUtf8(text);
}

// The title and the executable's name come from other programs: in the
// log they must be valid UTF-8 and must not start lines of their own.
std::string LogText(const char16_t *text)
{
	return EscapeControlCharacters(Utf8(text));
}

// Windows Store apps show their window inside a frame of this process.
bool IsStoreAppFrame(const char16_t *process)
{
	const char16_t *frame = u"ApplicationFrameHost.exe";
	for (; *process && *frame; ++process, ++frame)
		if (std::towlower(*process) != std::towlower(*frame))
			return false;
	return *process == *frame;
}

// The executable of the window's process, or "-". For a Store app's frame,
// that of the app whose window the frame holds, when it holds one.
void ReadWindowProcess(platform::WindowHandle window, char16_t *process)
{
	const uint32_t pid = platform::WindowProcessId(window);
	if (pid == 0) {
		CopyText(process, kDash);
		return;
	}
	ReadProcessName(pid, process);
	if (!IsStoreAppFrame(process))
		return;
	if (const uint32_t hosted = platform::HostedWindowProcessId(window))
		ReadProcessName(hosted, process);
}

void ReadForegroundWindow(platform::WindowHandle window)
{
	char16_t title[kTextUnits] = {};
	platform::WindowTitle(window, title, kMaxCount);
	if (title[0] == u'\0')
		CopyText(title, kDash);

	char16_t process[kTextUnits] = {};
	ReadWindowProcess(window, process);

	ActiveInfoRecord &info = SharedSample::ActiveInfo;
	std::copy(title, title + kMaxCount, info.title);
	std::copy(process, process + kMaxCount, info.process);
	info.last_window = window;
	blog(LOG_INFO, "CheckActiveWindow window_title:%s window_process:%s",
	     LogText(info.title).c_str(), LogText(info.process).c_str());
}

} // namespace

GetLastActiveTimeFunc WindowMonitor::get_last_active_time = nullptr;

bool CheckActiveWindow(platform::WindowHandle window, std::intptr_t)
{
	if (window != platform::ForegroundWindow())
		return true;
	if (window != SharedSample::ActiveInfo.last_window)
		ReadForegroundWindow(window);
	WriteActiveInfo();
	return true;
}

WindowMonitor::WindowMonitor() : QObject(nullptr) {}

WindowMonitor::~WindowMonitor()
{
	delete timer.data();
	timer.clear();
	if (hook_module)
		platform::FreeLibraryHandle(hook_module);
}

void WindowMonitor::SetCheckInterval(int32_t seconds)
{
	if (seconds < 10)
		check_interval = seconds;
}

bool WindowMonitor::WindowMonitorStart()
{
	blog(LOG_INFO, "into WindowMonitorStart");

	if (!EnsureDirectory(ConfigPath(record_dir), "dbDir"))
		return false;
	if (!MonitorDbPathFits(record_dir, ActiveInfo.user_id))
		return false;

	if (!DatabaseDriverAvailable())
		return false;

	const char *library = platform::HookLibraryName();
	hook_module = platform::LoadLibraryByName(library);
	if (!hook_module) {
		blog(LOG_ERROR, "get module %s fail", library);
		return false;
	}
	get_last_active_time = reinterpret_cast<GetLastActiveTimeFunc>(
		platform::LibrarySymbol(hook_module, "GetLastActiveTime"));
	if (!get_last_active_time) {
		blog(LOG_ERROR, "GetProcAddress module.GetLastActiveTime fail");
		return false;
	}
	const auto set_hook = reinterpret_cast<SetVorlixHookFunc>(
		platform::LibrarySymbol(hook_module, "SetVorlixHook"));
	if (!set_hook) {
		blog(LOG_ERROR, "GetProcAddress module.SetVorlixHook fail");
		return false;
	}
	// Without a display the hook cannot be set either; say what is missing.
	const std::string no_display = platform::WindowSystemUnavailable();
	if (!no_display.empty())
		blog(LOG_ERROR, "%s", no_display.c_str());
	if (set_hook() == 0) {
		blog(LOG_ERROR, "SetVorlixHook fail");
		platform::CloseWindowSystem();
		return false;
	}

	timer = new QTimer(this);
	connect(timer, SIGNAL(timeout()), this, SLOT(CheckActive()));
	timer->start(check_interval * 1000);
	return true;
}

void WindowMonitor::CheckActive()
{
	const int64_t last_input = get_last_active_time();
	const uint64_t now = platform::TickCount64();
	ActiveInfo.check_tm = ToServerTime(now);
	if (last_input > 0) {
		ActiveInfo.active_tm =
			ToServerTime(static_cast<uint64_t>(last_input));
	} else {
		blog(LOG_INFO, kNoInputNotice);
		ActiveInfo.active_tm = 0;
	}

	platform::EnumTopLevelWindows(
		CheckActiveWindow,
		static_cast<std::intptr_t>(platform::DesktopWindow()));
	LogForegroundSource();

	// The user's session has ended: there is nothing left to sample.
	if (platform::WindowSystemLost()) {
		blog(LOG_ERROR, "connection to the display lost, quitting");
		delete timer.data();
		QCoreApplication::quit();
	}
}

void WindowMonitor::WindowMonitorStop()
{
	blog(LOG_INFO, "into WindowMonitorStop");
	delete timer.data();
	timer.clear();

	const auto unset_hook =
		hook_module ? reinterpret_cast<UnSetVorlixHookFunc>(platform::LibrarySymbol(
				      hook_module, "UnSetVorlixHook"))
			    : nullptr;
	if (!unset_hook)
		blog(LOG_ERROR, "GetProcAddress module.UnSetVorlixHook fail");
	else if (unset_hook() == 0)
		blog(LOG_ERROR, "UnSetVorlixHook fail");
	platform::CloseWindowSystem();

	RemoveMonitorConnection();
}
