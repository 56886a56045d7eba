#include "tools/records-options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "tools/records-time.h"

namespace {

bool ParseInteger(const std::string &text, long long low, long long high,
		  long long &value)
{
	if (text.empty() ||
	    text.find_first_not_of("-0123456789") != std::string::npos)
		return false;
	errno = 0;
	char *end = nullptr;
	value = std::strtoll(text.c_str(), &end, 10);
	return errno == 0 && *end == '\0' && value >= low && value <= high;
}

bool ParseCommand(const std::string &word, RecordsCommand &command)
{
	if (word == "list")
		command = RecordsCommand::List;
	else if (word == "summary")
		command = RecordsCommand::Summary;
	else if (word == "report")
		command = RecordsCommand::Report;
	else
		return false;
	return true;
}

bool ParseFormat(const std::string &word, ListFormat &format)
{
	if (word == "table")
		format = ListFormat::Table;
	else if (word == "csv")
		format = ListFormat::Csv;
	else if (word == "jsonl")
		format = ListFormat::JsonLines;
	else
		return false;
	return true;
}

bool SetText(std::string &field, bool &given, const std::string &value)
{
	field = value;
	given = true;
	return true;
}

bool SetSeconds(int64_t &field, const std::string &value)
{
	long long number = 0;
	if (!ParseInteger(value, 1, INT32_MAX, number))
		return false;
	field = number;
	return true;
}

bool SetUserId(RecordsOptions &o, const std::string &value)
{
	long long number = 0;
	o.has_user_id = ParseInteger(value, INT_MIN, INT_MAX, number);
	o.user_id = static_cast<int>(number);
	return o.has_user_id;
}

// "day", "user", or both separated by a comma.
bool ParseBy(RecordsOptions &o, const std::string &value)
{
	size_t start = 0;
	while (start <= value.size()) {
		size_t comma = value.find(',', start);
		if (comma == std::string::npos)
			comma = value.size();
		const std::string word = value.substr(start, comma - start);
		if (word == "day")
			o.by_day = true;
		else if (word == "user")
			o.by_user = true;
		else
			return false;
		start = comma + 1;
	}
	return true;
}

struct ValueOption {
	const char *name;
	bool (*apply)(RecordsOptions &o, const std::string &value);
};

// Every option that takes a value; the monitor's own spelling of the record
// directory and user id is accepted too, so its command line can be reused.
const ValueOption kValueOptions[] = {
	{"--record-dir", [](RecordsOptions &o, const std::string &v) {
		 return SetText(o.record_dir, o.has_record_dir, v); }},
	{"--record_dir", [](RecordsOptions &o, const std::string &v) {
		 return SetText(o.record_dir, o.has_record_dir, v); }},
	{"--user-id", SetUserId},
	{"--user_id", SetUserId},
	{"--key", [](RecordsOptions &o, const std::string &v) {
		 return SetText(o.key, o.has_key, v); }},
	{"--key-file", [](RecordsOptions &o, const std::string &v) {
		 return SetText(o.key_file, o.has_key_file, v) && !v.empty(); }},
	{"--keys", [](RecordsOptions &o, const std::string &v) {
		 return SetText(o.keys_file, o.has_keys_file, v) && !v.empty(); }},
	{"--since", [](RecordsOptions &o, const std::string &v) {
		 o.period.has_since = true;
		 return ParseTimeArgument(v, o.period.since); }},
	{"--until", [](RecordsOptions &o, const std::string &v) {
		 o.period.has_until = true;
		 return ParseTimeArgument(v, o.period.until); }},
	{"--format", [](RecordsOptions &o, const std::string &v) {
		 return ParseFormat(v, o.format); }},
	{"--process", [](RecordsOptions &o, const std::string &v) {
		 o.processes.push_back(v);
		 return true; }},
	{"--gap", [](RecordsOptions &o, const std::string &v) {
		 return SetSeconds(o.gap, v); }},
	{"--idle", [](RecordsOptions &o, const std::string &v) {
		 return SetSeconds(o.idle, v); }},
	{"--html", [](RecordsOptions &o, const std::string &v) {
		 o.html = v;
		 return !v.empty(); }},
	{"--by", ParseBy},
	{"--categories", [](RecordsOptions &o, const std::string &v) {
		 o.categories_file = v;
		 return !v.empty(); }},
};

const ValueOption *FindValueOption(const std::string &name)
{
	for (const ValueOption &option : kValueOptions)
		if (name == option.name)
			return &option;
	return nullptr;
}

bool CheckCombination(const RecordsOptions &o, std::string &error)
{
	const bool by_name = o.has_record_dir || o.has_user_id;
	if (o.command == RecordsCommand::None)
		error = "no command given (list, summary or report)";
	else if (!o.files.empty() && by_name)
		error = "give either record files or --record-dir and --user-id";
	else if (o.files.empty() && !(o.has_record_dir && o.has_user_id))
		error = by_name ? "--record-dir and --user-id go together"
				: "no record file given";
	else if (o.has_key + o.has_key_file + o.has_keys_file != 1)
		error = "give the key with either --key or --key-file, "
			"or per user with --keys";
	else if (o.command != RecordsCommand::List && !o.processes.empty())
		error = "--process applies to list only";
	else if (o.command == RecordsCommand::Report && o.format != ListFormat::Table)
		error = "--format applies to list and summary only";
	else if (o.command != RecordsCommand::Summary && (o.by_day || o.by_user))
		error = "--by applies to summary only";
	else if (o.command == RecordsCommand::Report && o.html.empty())
		error = "report needs --html FILE";
	else if (o.command != RecordsCommand::Report && !o.html.empty())
		error = "--html applies to report only";
	else if (o.period.has_since && o.period.has_until &&
		 o.period.since >= o.period.until)
		error = "--since must come before --until";
	return error.empty();
}

bool ApplyWord(const std::string &word, RecordsOptions &o,
	       std::string &error)
{
	if (o.command == RecordsCommand::None) {
		if (!ParseCommand(word, o.command))
			error = "unknown command \"" + word +
				"\" (list, summary or report)";
	} else if (word.empty()) {
		error = "empty record file name";
	} else {
		o.files.push_back(word);
	}
	return error.empty();
}

} // namespace

bool ParseRecordsOptions(const std::vector<std::string> &args,
			 RecordsOptions &o, std::string &error)
{
	for (size_t i = 0; i < args.size(); ++i) {
		const std::string &arg = args[i];
		if (arg == "-h" || arg == "--help") {
			o.help = true;
			return true;
		}
		if (arg.empty() || arg[0] != '-') {
			if (!ApplyWord(arg, o, error))
				return false;
			continue;
		}
		const size_t equals = arg.find('=');
		const std::string name = arg.substr(0, equals);
		const ValueOption *option = FindValueOption(name);
		if (!option) {
			error = "unknown option " + name;
			return false;
		}
		std::string value;
		if (equals != std::string::npos) {
			value = arg.substr(equals + 1);
		} else if (i + 1 < args.size()) {
			value = args[++i];
		} else {
			error = "option " + name + " needs a value";
			return false;
		}
		if (!option->apply(o, value)) {
			error = "invalid value for " + name + ": \"" + value +
				"\"";
			return false;
		}
	}
	return CheckCombination(o, error);
}

const char *RecordsUsage()
{
	return R"(Usage: vorlix-records COMMAND RECORDS KEY [OPTIONS]

Reads back the activity records that vorlix-monitor writes.

Commands:
  list             every row: id, member_id, check_tm and active_tm (Unix
                   seconds, then as local date-time with its offset from
                   UTC), idle seconds (check_tm - active_tm, empty where
                   active_tm is 0), executable, window title, user id, the
                   seconds that summary counts for the row, the record
                   file, and with --categories the row's category
  summary          time spent per executable and per window title (and per
                   category, day or user: --categories, --by)
  report           one self-contained HTML page (needs --html FILE): a
                   timeline per day of the foreground work and the summary

RECORDS, one of:
  FILE|FOLDER ...               record files, and folders: every *.6.mon.db
                                below them; the user id is the number in
                                the file name (N.6.mon.db)
  --record-dir DIR --user-id N  the file that the monitor started with these
                                values writes: DIR/N.6.mon.db below the
                                application-data folder ($XDG_CONFIG_HOME,
                                else ~/.config), "\" read as "/"
  A file that cannot be read whole, or does not decrypt with its key, is
  named on standard error and left out: none of its rows is shown or
  counted. The others are still read (exit status 3).

KEY, one of:
  --key KEY        the 16-byte cipher key that the monitor was given
  --key-file FILE  a file holding the key (one trailing line break ignored),
                   so that the key need not show in the process list
  --keys FILE      one "USER_ID KEY" line per user, for files under different
                   keys: the key is the rest of the line after one space or
                   tab; blank lines and lines starting with "#" are skipped

Options:
  --since TIME     only rows whose check_tm is at or after TIME
  --until TIME     only rows whose check_tm is before TIME
                   TIME: Unix seconds, or a local date YYYY-MM-DD, optionally
                   followed by a space or "T" and HH:MM or HH:MM:SS, and by
                   an offset from UTC (Z, +08:00, -04:00) as list shows it
  --format F       list, summary: table (aligned text, the default), csv
                   (RFC 4180, CRLF line ends) or jsonl (one JSON object per
                   line, ASCII). summary as csv or jsonl: one line per group
                   and key: group (all, user, day or "user,day"), user_id,
                   day, kind (at_work, idle, total, executable, category,
                   title), name, title, seconds
  --process NAME   list: only rows of executable NAME (letter case ignored;
                   may be given more than once)
  --by day|user|user,day
                   summary: the time at work and idle, per executable and
                   per category, for each local calendar day, each user, or
                   each user and day; time that crosses midnight is split
                   there
  --categories FILE
                   list, summary, report: UTF-8 lines "NAME<TAB>REGULAR
                   EXPRESSION" (Perl syntax), tried in order on the text
                   "exe:EXECUTABLE title:TITLE" of each row; the first that
                   matches anywhere in it names the row's category, else
                   "Uncategorized". Blank lines, lines starting with "#" and
                   a byte-order mark are skipped; at least one line must
                   name a category
  --gap SECONDS    list, summary, report: the gap cap (see below)
  --idle SECONDS   summary, report: the idle threshold (default 180)
  --html FILE      report: the page to write: one timeline row per day (per
                   user and day for several users), coloured by category
                   (or by executable), and the tables of days, categories,
                   executables and titles
  -h, --help       this text

How summary and report count time:
  Rows are taken in the order they were written. The interval of a row is
  the time from its check_tm to the check_tm of the next row. A run is a
  sequence of rows whose intervals are at least 0 and at most the gap cap;
  a longer interval, or a check_tm that goes back (a new monitor start),
  ends the run.
  - A row that is not the last of its run counts its interval.
  - The last row of a run (and of the period) counts the median interval,
    but no more than the gap cap.
  - The median interval is the median of the positive intervals between
    consecutive rows (the lower of the two middle ones when their number is
    even; 10 s, the monitor's default check interval, when there is none).
  - The gap cap is --gap, else twice the median interval.
  - A row whose idle time (check_tm - active_tm) is at least --idle seconds
    counts as idle instead of counting for its executable. A row whose
    active_tm is 0 (no input known) counts for its executable.
  Executables and titles are sorted by time, longest first; shares are
  percent of all counted time, idle included. The period shown runs from the
  first to the last check_tm of the rows read. The intervals, runs and
  median are worked out per file: one file is one user's monitor. Local
  days and times are those of TZ, else of the system's time zone; summary
  and report name it.

Damaged values:
  A value that does not decrypt is shown as "?" (null in JSON) and the rows
  holding one are counted in a warning on standard error; the other rows are
  still shown. When no value of the first 64 rows of the file decrypts, the
  key is taken as wrong.
  The file is only read, never changed; reading while the monitor writes is
  safe.

Exit status: 0 done; 1 the records or the key could not be read (no file
could); 2 wrong usage; 3 done, but some rows were damaged or some files
were left out.
)";
}
