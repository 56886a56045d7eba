// libvorlix-wayland.so's one export: the table through which the program's
// window layer and the input hook reach the Wayland desktop's sources.
// Both call it from the program's main thread.
#include "platform/wayland/sources.h"

namespace platform::wayland {

namespace {

// Never destroyed at the program's exit, when QtDBus's thread has gone:
// the program stops both before (CloseWindowSystem, UnSetVorlixHook).
ForegroundSource *foreground_source = nullptr;
InputSource *input_source = nullptr;

// sway first: it is found by its own socket, without the session bus. The
// foreign-toplevel list last: sway offers it too, but names no process
// there, and the others' own channels say more.
bool StartForeground(std::string *why)
{
	if (foreground_source)
		return true;
	std::string sway, kwin, gnome, toplevels;
	std::unique_ptr<ForegroundSource> source;
	if ((source = StartSway(&sway)) || (source = StartKWin(&kwin)) ||
	    (source = StartGnomeShell(&gnome)) || (source = StartForeignToplevel(&toplevels))) {
		foreground_source = source.release();
		return true;
	}
	*why = "sway: " + sway + "; KWin: " + kwin + "; GNOME Shell: " + gnome +
	       "; foreign-toplevel list: " + toplevels;
	return false;
}

Answer Foreground(FocusedWindow *window)
{
	*window = {};
	return foreground_source ? foreground_source->Foreground(window) : Answer::Lost;
}

const char *Source()
{
	return foreground_source ? foreground_source->Source() : nullptr;
}

void StopForeground()
{
	delete foreground_source;
	foreground_source = nullptr;
}

// GNOME's idle monitor first: it knows the input before the start too.
bool StartInput(std::string *why)
{
	if (input_source)
		return true;
	std::string mutter, protocols;
	std::unique_ptr<InputSource> source;
	if ((source = StartMutterIdleMonitor(&mutter)) || (source = StartIdleProtocols(&protocols))) {
		input_source = source.release();
		return true;
	}
	*why = "GNOME: " + mutter + "; idle protocols: " + protocols;
	return false;
}

int64_t LastInput()
{
	return input_source ? input_source->LastInput() : 0;
}

const char *InputName()
{
	return input_source ? input_source->Name() : nullptr;
}

void StopInput()
{
	delete input_source;
	input_source = nullptr;
}

const DesktopApi kApi = {StartForeground, Foreground, Source, StopForeground,
			 StartInput,      LastInput,  InputName, StopInput};

} // namespace

} // namespace platform::wayland

extern "C" __attribute__((visibility("default"))) const platform::wayland::DesktopApi *
VorlixWaylandDesktop()
{
	return &platform::wayland::kApi;
}
