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

[[noreturn]] void FailStartup(const std::string &message)
{
	blog(LOG_ERROR, "%s", message.c_str());
	RestoreConsoleHandler();
	std::exit(-1);
}

// A key file holds 16 bytes; anything longer is read only this far, enough
// to be told apart from a key.
constexpr size_t kKeyFileLimit = 4096;

bool ReadStandardInput(std::string &content, std::string &error)
{
	content.clear();
	char buffer[512];
	size_t n;
	while (content.size() < kKeyFileLimit &&
	       (n = std::fread(buffer, 1, sizeof(buffer), stdin)) > 0)
		content.append(buffer, n);
	if (std::ferror(stdin))
		error = "standard input cannot be read";
	return error.empty();
}

// The key from --cipher_key, or from the file that --cipher_key_file names
// ("-": standard input), less one line break at its end (as an editor or
// echo leaves one). A file that cannot be used ends start-up.
std::string CipherKey(const ScannedOptions &scan, const std::string &key_file)
{
	if (!scan.has_cipher_key_file)
		return scan.cipher_key;
	if (scan.has_cipher_key)
		FailStartup("give the cipher key once: --cipher_key or "
			    "--cipher_key_file, not both");
	std::string key, error;
	const bool read = key_file == "-"
				  ? ReadStandardInput(key, error)
				  : platform::ReadPrivateFile(key_file.c_str(),
							      kKeyFileLimit, key,
							      error);
	if (!read)
		FailStartup("cipher key file " + key_file +
			    " cannot be used: " + error);
	if (!key.empty() && key.back() == '\n') {
		key.pop_back();
		if (!key.empty() && key.back() == '\r')
			key.pop_back();
	}
	return key;
}

// Ends start-up on the first failed check; returns the key.
std::string CheckOptions(const ScannedOptions &scan, const ScannedOptions &named)
{
	if (scan.user_id == 0 || scan.member_id < 0)
		FailStartup("init user info error!");
	const std::string key = CipherKey(scan, named.cipher_key_file);
	if (key.size() != 16)
		FailStartup("invalid cipher key!");
	if (!scan.has_record_dir || scan.record_dir.size() < 2)
		FailStartup("init record_dir error!");
	return key;
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

	const std::string key = CheckOptions(scan, named);
	blog(LOG_INFO, "Command Line Arguments: %s",
	     CommandLineEcho(argc, text_argv.data(), named).c_str());

	LaunchOptions options = MakeLaunchOptions(scan);
	options.record_dir = named.record_dir;
	options.cipher_key = key;
	return RunApplication(argc, argv, options, log_stream);
}
