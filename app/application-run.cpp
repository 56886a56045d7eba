#include "app/startup.h"

#include "logging/log-handler.h"

int RunApplication(int &, char **, const LaunchOptions &, std::fstream &)
{
	RestoreConsoleHandler();
	return 0;
}
