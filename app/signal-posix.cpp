// Interrupt and termination signals on POSIX. A signal handler may only do
// async-signal-safe work: it writes the signal number into a socket pair, and
// a notifier on the main thread does the logging and the quit request.
#include "app/monitor-app.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <util/base.h>
#include <util/bmem.h>

namespace {

int signalPair[2] = {-1, -1};

void SignalHandler(int signal_number)
{
	const int saved_errno = errno;
	const unsigned char number = static_cast<unsigned char>(signal_number);
	// Non-blocking: in a storm of signals the extra ones are dropped.
	ssize_t ignored = write(signalPair[0], &number, 1);
	(void)ignored;
	errno = saved_errno;
}

void OnSignalQueued(int fd)
{
	unsigned char number = 0;
	while (read(fd, &number, 1) == 1) {
		QCoreApplication::quit();
		blog(LOG_INFO, "app quit with signal:%d Number of memory leaks: %ld",
		     static_cast<int>(number), bnum_allocs());
	}
}

} // namespace

void InstallSignalHandler(QCoreApplication *app)
{
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0,
		       signalPair) != 0) {
		blog(LOG_ERROR, "signal socket pair cannot be made");
		return;
	}
	auto *notifier = new QSocketNotifier(signalPair[1],
					     QSocketNotifier::Read, app);
	QObject::connect(notifier, &QSocketNotifier::activated, app,
			 [] { OnSignalQueued(signalPair[1]); });

	struct sigaction action = {};
	action.sa_handler = SignalHandler;
	sigemptyset(&action.sa_mask);
	action.sa_flags = SA_RESTART;
	sigaction(SIGINT, &action, nullptr);
	sigaction(SIGTERM, &action, nullptr);
}
