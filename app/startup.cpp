#include "app/startup.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <util/base.h>

#include "logging/log-file.h"
#include "logging/log-handler.h"
#include "paths/app-data-path.h"
#include "platform/platform.h"

namespace {

[[noreturn]] void FailStartup(const char *message)
{
	blog(LOG_ERROR, "%s", message);
	RestoreConsoleHandler();
	std::exit(-1);
}

void CheckOptions(const ScannedOptions &scan)
{
	if (scan.user_id == 0 || scan.member_id < 0)
		FailStartup("init user info error!");
	if (!scan.has_cipher_key || scan.cipher_key.size() != 16)
		FailStartup("invalid cipher key!");
	if (!scan.has_record_dir || scan.record_dir.size() < 2)
		FailStartup("init record_dir error!");
}

LaunchOptions MakeLaunchOptions(const ScannedOptions &scan)
{
	LaunchOptions options;
	options.user_id = scan.user_id;
	options.member_id = scan.member_id;
	options.check_interval = scan.check_interval > 0 ? scan.check_interval
							 : 0;
	options.landing_server_time =
		scan.landing_server_time > 0 ? scan.landing_server_time : 0;
	options.record_dir = scan.record_dir;
	options.cipher_key = scan.cipher_key;
	return options;
}

} // namespace

bool EnsureLogDirectory(const std::string &log_dir)
{
	if (!EnsureDirectory(ConfigPath(log_dir), "logDir")) {
		std::fputs("make log dir fail\n", stdout);
		std::fflush(stdout);
		return false;
	}
	return true;
}

int VorlixMain(int argc, char **argv)
{
	SaveConsoleHandler();

	// The ids, the key and the server time are taken from argv as given;
	// folder names and the logged command line from the text the user
	// typed, which on Windows differs from argv's ANSI bytes.
	const std::vector<std::string> text = platform::CommandLineText(argc, argv);
	std::vector<const char *> text_argv;
	for (const std::string &arg : text)
		text_argv.push_back(arg.c_str());
	const ScannedOptions scan = ScanOptions(argc, argv);
	const ScannedOptions named = ScanOptions(argc, text_argv.data());
	if (scan.outcome == ScannedOptions::Outcome::Help) {
		PrintHelp();
		std::exit(0);
	}
	if (scan.outcome == ScannedOptions::Outcome::Unrecognised)
		std::exit(0);

	if (!scan.has_log_dir) {
		std::fputs("input log dir!!\n", stdout);
		std::fflush(stdout);
		std::exit(-1);
	}
	if (!EnsureLogDirectory(named.log_dir))
		std::exit(-1);

	std::fstream log_stream;
	OpenLogFile(log_stream, named.log_dir);

	CheckOptions(scan);
	blog(LOG_INFO, "Command Line Arguments: %s",
	     CommandLineEcho(argc, text_argv.data(), named).c_str());

	LaunchOptions options = MakeLaunchOptions(scan);
	options.record_dir = named.record_dir;
	return RunApplication(argc, argv, options, log_stream);
}
