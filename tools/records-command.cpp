#include "tools/records-command.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include <QFile>
#include <QSaveFile>

#include "platform/platform.h"
#include "store/record-path.h"
#include "tools/records-decode.h"
#include "tools/records-file.h"
#include "tools/records-list.h"
#include "tools/records-options.h"
#include "tools/records-report.h"
#include "tools/records-summary.h"

namespace {

constexpr size_t kFlushBytes = 1 << 16;
constexpr long kKeyFileLimit = 4096;

// Collects output and writes it in large pieces.
class Output {
public:
	explicit Output(FILE *file) : file_(file) {}
	std::string &text() { return text_; }
	void FlushIfFull()
	{
		if (text_.size() >= kFlushBytes)
			Flush();
	}
	// False when anything could not be written.
	bool Finish()
	{
		Flush();
		return !failed_ && std::fflush(file_) == 0 && !std::ferror(file_);
	}

private:
	void Flush()
	{
		if (!text_.empty() &&
		    std::fwrite(text_.data(), 1, text_.size(), file_) !=
			    text_.size())
			failed_ = true;
		text_.clear();
	}

	FILE *file_;
	std::string text_;
	bool failed_ = false;
};

struct Session {
	const RecordsOptions &options;
	RecordFile file;
	std::string key;
	FILE *out;
	FILE *err;
	int64_t damaged_rows = 0;
	int64_t rows = 0;
};

// A name from the command line: UTF-8 on Windows (wide file calls), bytes as
// given on POSIX.
std::filesystem::path FileName(const std::string &name)
{
	return std::filesystem::u8path(name);
}

// The same name for Qt, from the path's native form, whichever it is.
[[maybe_unused]] QString QtFileName(const std::string &native)
{
	return QFile::decodeName(native.c_str());
}
[[maybe_unused]] QString QtFileName(const std::wstring &native)
{
	return QString::fromStdWString(native);
}

int Fail(FILE *err, const std::string &message, int status)
{
	std::fprintf(err, "vorlix-records: %s\n", message.c_str());
	return status;
}

bool ReadKeyFile(const std::string &path, std::string &key,
		 std::string &error)
{
	std::ifstream file(FileName(path), std::ios::binary);
	if (!file) {
		error = "cannot read key file " + path + ": " +
			std::strerror(errno);
		return false;
	}
	char buffer[kKeyFileLimit];
	file.read(buffer, sizeof(buffer));
	const size_t size = static_cast<size_t>(file.gcount());
	if (file.bad()) {
		error = "cannot read key file " + path;
		return false;
	}
	key.assign(buffer, size);
	// One line break that an editor or "echo" adds is not part of the key.
	if (!key.empty() && key.back() == '\n') {
		key.pop_back();
		if (!key.empty() && key.back() == '\r')
			key.pop_back();
	}
	return true;
}

bool LoadKey(const RecordsOptions &options, std::string &key,
	     std::string &error)
{
	if (options.has_key)
		key = options.key;
	else if (!ReadKeyFile(options.key_file, key, error))
		return false;
	if (key.size() != 16) {
		error = "the key must be 16 bytes long, not " +
			std::to_string(key.size());
		return false;
	}
	return true;
}

bool RecordPath(const RecordsOptions &options, std::string &path,
		std::string &error)
{
	if (!options.file.empty()) {
		path = options.file;
		return true;
	}
	path = MonitorDbPath(options.record_dir, options.user_id);
	if (path.empty())
		error = "no application-data folder: neither XDG_CONFIG_HOME "
			"nor HOME is set";
	return !path.empty();
}

// Reads the rows of the period, decrypted, counting the damaged ones.
bool ForEachRecord(Session &s, const std::function<void(const Record &)> &use,
		   std::string &error)
{
	RecordDecoder decoder(s.key);
	Record record;
	s.damaged_rows = s.rows = 0;
	return s.file.ForEach(
		s.options.period,
		[&](const RawRecord &raw) {
			decoder.Decode(raw, record);
			s.damaged_rows += record.damaged();
			++s.rows;
			use(record);
			return true;
		},
		error);
}

int Finish(Session &s, Output &output)
{
	if (!output.Finish())
		return Fail(s.err, "cannot write the output", kExitBadInput);
	if (s.damaged_rows == 0)
		return kExitOk;
	return Fail(s.err,
		    "warning: " + std::to_string(s.damaged_rows) + " of " +
			    std::to_string(s.rows) +
			    " rows hold a value that does not decrypt "
			    "(shown as \"?\")",
		    kExitDamagedRows);
}

int RunList(Session &s)
{
	std::unique_ptr<ListWriter> writer = MakeListWriter(s.options.format);
	const std::vector<std::string> &processes = s.options.processes;
	std::string error;
	// The aligned table sizes its columns in a first pass over the rows.
	if (writer->NeedsMeasure() &&
	    !ForEachRecord(s,
			   [&](const Record &record) {
				   if (MatchesProcess(record, processes))
					   writer->Measure(record);
			   },
			   error))
		return Fail(s.err, error, kExitBadInput);
	Output output(s.out);
	writer->Header(output.text());
	if (!ForEachRecord(s,
			   [&](const Record &record) {
				   if (!MatchesProcess(record, processes))
					   return;
				   writer->Row(record, output.text());
				   output.FlushIfFull();
			   },
			   error)) {
		output.Finish();
		return Fail(s.err, error, kExitBadInput);
	}
	return Finish(s, output);
}

struct Counted {
	SummaryInfo info;
	SummaryTotals totals;
	std::unique_ptr<Timeline> timeline;
};

// Both passes of the arithmetic: the intervals first, then every row.
bool CountTime(Session &s, bool with_timeline, Counted &counted,
	       std::string &error)
{
	IntervalStats stats;
	if (!s.file.ForEachCheckTime(
		    s.options.period, [&](int64_t t) { stats.Add(t); }, error))
		return false;
	SummaryInfo &info = counted.info;
	info.rows = stats.rows();
	info.earliest = stats.earliest();
	info.latest = stats.latest();
	info.median = stats.Median();
	info.cap = s.options.gap > 0 ? s.options.gap : 2 * info.median;
	info.idle_threshold = s.options.idle;
	if (with_timeline)
		counted.timeline = std::make_unique<Timeline>(
			TimelineJoin(info.latest - info.earliest));
	RunCounter counter(info.median, info.cap, info.idle_threshold,
			   [&](const Record &record, int64_t seconds, bool idle) {
				   counted.totals.Count(record, seconds, idle);
				   if (!idle && counted.timeline)
					   counted.timeline->Add(
						   ProcessLabel(record),
						   record.check_tm, seconds);
			   });
	if (!ForEachRecord(s, [&](const Record &r) { counter.Add(r); }, error))
		return false;
	counter.Finish();
	info.runs = counter.runs();
	return true;
}

int RunSummary(Session &s)
{
	Counted counted;
	std::string error;
	if (!CountTime(s, false, counted, error))
		return Fail(s.err, error, kExitBadInput);
	Output output(s.out);
	output.text() = FormatSummary(counted.info, counted.totals);
	return Finish(s, output);
}

// Writes the page beside its final name and renames it into place, so that
// a failed write leaves no half page. The page is readable by its owner
// only: it holds the user's window titles.
bool WritePage(const std::string &path, const std::string &page,
	       std::string &error)
{
	QSaveFile file(QtFileName(FileName(path).native()));
	const bool written =
		file.open(QIODevice::WriteOnly) &&
		file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
		file.write(page.data(), static_cast<qint64>(page.size())) ==
			static_cast<qint64>(page.size()) &&
		file.commit();
	if (!written)
		error = "cannot write " + path + ": " + file.errorString().toStdString();
	return written;
}

int RunReport(Session &s, const std::string &record_path)
{
	const std::string &html = s.options.html;
	if (platform::SameFile(html.c_str(), record_path.c_str()))
		return Fail(s.err, "refusing to write the report over the record "
				   "file " + record_path,
			    kExitUsage);
	Counted counted;
	std::string error;
	if (!CountTime(s, true, counted, error))
		return Fail(s.err, error, kExitBadInput);
	if (!WritePage(html,
		       RenderReport(counted.info, counted.totals,
				    *counted.timeline),
		       error))
		return Fail(s.err, error, kExitBadInput);
	Output output(s.out);
	output.text() = "Report written to " + html + " (" +
			std::to_string(counted.info.rows) + " rows)\n";
	return Finish(s, output);
}

int RunCommand(Session &s, const std::string &record_path)
{
	switch (s.options.command) {
	case RecordsCommand::List:
		return RunList(s);
	case RecordsCommand::Summary:
		return RunSummary(s);
	case RecordsCommand::Report:
		return RunReport(s, record_path);
	case RecordsCommand::None:
		break;
	}
	return kExitUsage;
}

} // namespace

int RunRecords(const std::vector<std::string> &args, FILE *out, FILE *err)
{
	RecordsOptions options;
	std::string error, path;
	if (!ParseRecordsOptions(args, options, error))
		return Fail(err, error + " (see --help)", kExitUsage);
	if (options.help) {
		std::fputs(RecordsUsage(), out);
		return kExitOk;
	}
	Session s{options, RecordFile(), std::string(), out, err};
	if (!LoadKey(options, s.key, error) || !RecordPath(options, path, error) ||
	    !s.file.Open(path, error))
		return Fail(err, error, kExitBadInput);
	switch (CheckKey(s.file, s.key, error)) {
	case KeyCheck::Wrong:
		return Fail(err, "wrong key: the records in " + path +
					 " do not decrypt with it",
			    kExitBadInput);
	case KeyCheck::NoRows:
		if (!error.empty())
			return Fail(err, error, kExitBadInput);
		break;
	case KeyCheck::Right:
		break;
	}
	return RunCommand(s, path);
}
