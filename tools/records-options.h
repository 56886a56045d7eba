#pragma once
// The command line of vorlix-records.
#include <cstdint>
#include <string>
#include <vector>

enum class RecordsCommand { None, List, Summary, Report };
enum class ListFormat { Table, Csv, JsonLines };

// The rows chosen by --since (inclusive) and --until (exclusive), on
// check_tm.
struct Period {
	bool has_since = false;
	bool has_until = false;
	int64_t since = 0;
	int64_t until = 0;
};

struct RecordsOptions {
	RecordsCommand command = RecordsCommand::None;
	bool help = false;
	// The record files: paths of files or of folders holding them, or
	// the one file that the monitor names from --record-dir and --user-id.
	std::vector<std::string> files;
	std::string record_dir;
	bool has_record_dir = false;
	bool has_user_id = false;
	int user_id = 0;
	// The key: given itself or in a file.
	std::string key;
	bool has_key = false;
	std::string key_file;
	bool has_key_file = false;
	// Lines "USER_ID KEY", for files under different keys.
	std::string keys_file;
	bool has_keys_file = false;

	Period period;
	ListFormat format = ListFormat::Table;
	std::vector<std::string> processes;
	int64_t gap = 0; // 0: twice the median interval
	int64_t idle = 180;
	std::string html;
	// summary: totals per local calendar day and/or per user as well.
	bool by_day = false;
	bool by_user = false;
	// Lines "NAME<TAB>REGULAR EXPRESSION".
	std::string categories_file;
};

constexpr int kExitOk = 0;
constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;
constexpr int kExitDamagedRows = 3;

// Reads the arguments after the program name. On misuse returns false with
// one line (no newline) in `error`.
bool ParseRecordsOptions(const std::vector<std::string> &args,
			 RecordsOptions &options, std::string &error);

// The --help text.
const char *RecordsUsage();
