#include "app/launch-options.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char *const kHelpTexts[7] = {
	"--user_id: login user's id.\n\n",
	"--member_id: login member id.\n\n",
	"--cipher_key: title encrypto key.(length must be 16) \n\n",
	("--record_dir: direct to save monitor record, default "
	 "%AppData%/Ambrel/vorlixes.\n\n"),
	"--log_dir: direct to save system log.\n\n",
	"--landing_server_time: server time on login.\n\n",
	"--check_interval: active check interval.\n\n",
};

namespace {

bool IsSpace(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
	       c == '\r';
}

enum class Option {
	UserId,
	MemberId,
	CipherKey,
	RecordDir,
	LogDir,
	LandingServerTime,
	CheckInterval,
	CipherKeyFile,
	None
};

Option Match(const char *arg)
{
	static const char *const names[] = {
		"--user_id",    "--member_id", "--cipher_key",
		"--record_dir", "--log_dir",   "--landing_server_time",
		"--check_interval", "--cipher_key_file"};
	for (int i = 0; i < 8; ++i)
		if (std::strcmp(arg, names[i]) == 0)
			return static_cast<Option>(i);
	return Option::None;
}

void Store(ScannedOptions &scan, Option option, const char *value)
{
	switch (option) {
	case Option::UserId:
		scan.user_id = ParseInt32(value);
		break;
	case Option::MemberId:
		scan.member_id = ParseInt32(value);
		break;
	case Option::CipherKey:
		scan.cipher_key = value;
		scan.has_cipher_key = true;
		break;
	case Option::RecordDir:
		scan.record_dir = value;
		scan.has_record_dir = true;
		break;
	case Option::LogDir:
		scan.log_dir = value;
		scan.has_log_dir = true;
		break;
	case Option::LandingServerTime:
		// atol with a 32-bit long, widened with its sign
		scan.landing_server_time = ParseInt32(value);
		break;
	case Option::CheckInterval:
		scan.check_interval = ParseInt32(value);
		break;
	case Option::CipherKeyFile:
		scan.cipher_key_file = value;
		scan.has_cipher_key_file = true;
		break;
	case Option::None:
		break;
	}
}

} // namespace

int32_t ParseInt32(const char *text)
{
	const char *p = text;
	while (IsSpace(*p))
		++p;
	bool negative = false;
	if (*p == '+' || *p == '-')
		negative = *p++ == '-';
	// Saturate as soon as the magnitude leaves the 32-bit range, so that no
	// number of digits can overflow the accumulator.
	int64_t magnitude = 0;
	for (; *p >= '0' && *p <= '9'; ++p) {
		magnitude = magnitude * 10 + (*p - '0');
		if (magnitude > INT64_C(2147483648))
			magnitude = INT64_C(2147483648);
	}
	const int64_t value = negative ? -magnitude : magnitude;
	if (value > INT32_MAX)
		return INT32_MAX;
	return static_cast<int32_t>(value);
}

ScannedOptions ScanOptions(int argc, const char *const *argv)
{
	ScannedOptions scan;
	int i = 1;
	while (i < argc) {
		const Option option = Match(argv[i]);
		if (option != Option::None) {
			if (i + 1 >= argc)
				break;
			Store(scan, option, argv[i + 1]);
			if (option == Option::CipherKey)
				scan.key_positions.push_back(i + 1);
			i += 2;
			continue;
		}
		if (std::strcmp(argv[i], "--help") == 0 ||
		    std::strcmp(argv[i], "-h") == 0) {
			scan.outcome = ScannedOptions::Outcome::Help;
			return scan;
		}
		scan.outcome = ScannedOptions::Outcome::Unrecognised;
		return scan;
	}
	return scan;
}

std::string CommandLineEcho(int argc, const char *const *argv,
			    const ScannedOptions &scan)
{
	std::string echo;
	for (int i = 1; i < argc; ++i) {
		if (std::strcmp(argv[i], "--cipher_key") == 0) {
			++i;
			continue;
		}
		if (std::find(scan.key_positions.begin(),
			      scan.key_positions.end(),
			      i) != scan.key_positions.end())
			continue;
		if (!echo.empty())
			echo += ' ';
		echo += argv[i];
	}
	return echo;
}

void PrintHelp()
{
	for (const char *text : kHelpTexts)
		std::fputs(text, stdout);
	std::fputs("\n", stdout);
	std::fflush(stdout);
}
