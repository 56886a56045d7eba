#pragma once
// The command line: option scan, help text, the echo without the key, and the
// record handed from start-up to the application run.
#include <cstdint>
#include <string>
#include <vector>

struct LaunchOptions {
	int32_t user_id = 0;
	int32_t member_id = 0;
	int32_t check_interval = 0;      // 0: not given
	int64_t landing_server_time = 0; // 0: not given
	std::string record_dir;
	std::string cipher_key;
};

// What the scan of the argument vector found.
struct ScannedOptions {
	enum class Outcome { Run, Help, Unrecognised };
	Outcome outcome = Outcome::Run;
	int32_t user_id = 0;
	int32_t member_id = 0;
	int32_t check_interval = 0;
	int64_t landing_server_time = 0;
	bool has_log_dir = false, has_cipher_key = false, has_record_dir = false;
	std::string log_dir, cipher_key, record_dir;
	// --cipher_key_file: the key read from a private file ("-": standard
	// input) instead of the command line, where every user can see it.
	bool has_cipher_key_file = false;
	std::string cipher_key_file;
	std::vector<int> key_positions; // argv indices taken as a cipher key
};

// atoi/atol: leading white space, optional sign, decimal digits up to the
// first other character; no digits give 0; clamped to the 32-bit range.
int32_t ParseInt32(const char *text);

// Scans argv[1..argc-1]. Stops at the first help switch or unrecognised
// argument and says which; an option without a value ends the scan.
ScannedOptions ScanOptions(int argc, const char *const *argv);

// The arguments after the program name joined by single spaces, with every
// "--cipher_key" and the argument after it left out, and every argument the
// scan took as a key left out too (so "--log_dir --cipher_key --cipher_key K"
// cannot smuggle K into the log).
std::string CommandLineEcho(int argc, const char *const *argv,
			    const ScannedOptions &scan);

// The seven help texts, exactly as printed by --help and -h.
extern const char *const kHelpTexts[7];

// Writes the help text and one more newline to standard output and flushes.
void PrintHelp();
