#pragma once
// The sampling object: it loads the input-hook library, runs the timer and
// samples the foreground window at every tick.
#include <cstdint>

#include <QObject>
#include <QPointer>
#include <QTimer>

#include "hook/vorlix-hook.h"
#include "monitor/shared-sample.h"
#include "platform/platform.h"

class WindowMonitor : public QObject, public SharedSample {
	Q_OBJECT

public:
	WindowMonitor();
	~WindowMonitor() override;

	// Only a value below 10 replaces the default of 10 seconds.
	void SetCheckInterval(int32_t seconds);

	// Makes sure the record directory exists, loads the hook library,
	// installs its hook and starts the timer. Logs why on failure.
	bool WindowMonitorStart();

	// Stops the timer, removes the hook and the database connection. The
	// library stays loaded until the monitor is destroyed.
	void WindowMonitorStop();

private slots:
	void CheckActive();

private:
	int32_t check_interval = 10;
	platform::LibraryHandle hook_module = nullptr;
	QPointer<QTimer> timer;
	static GetLastActiveTimeFunc get_last_active_time;
};

// The enumeration callback: samples the foreground window into ActiveInfo
// (reading title and executable only when the foreground window changed)
// and writes the row. Always continues the enumeration.
bool CheckActiveWindow(platform::WindowHandle window, std::intptr_t user);
