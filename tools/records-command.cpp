#include "tools/records-command.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <memory>
#include <thread>

#include <QFile>
#include <QSaveFile>

#include "platform/platform.h"
#include "store/record-path.h"
#include "tools/records-categories.h"
#include "tools/records-decode.h"
#include "tools/records-file.h"
#include "tools/records-groups.h"
#include "tools/records-list.h"
#include "tools/records-names.h"
#include "tools/records-options.h"
#include "tools/records-report.h"
#include "tools/records-sources.h"
#include "tools/records-summary.h"

namespace {

constexpr size_t kFlushBytes = 1 << 16;

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

struct Context {
	Context(const RecordsOptions &o, FILE *output, FILE *errors)
		: options(o), out(output), err(errors)
	{
	}
	const RecordsOptions &options;
	FILE *out;
	FILE *err;
	RecordKeys keys;
	Categories categories;
	std::vector<RecordSource> sources;
	int64_t damaged_rows = 0;
	int64_t rows = 0;
	size_t left_out = 0; // files named on standard error and not read
	size_t empty_folders = 0;
};

int Fail(FILE *err, const std::string &message, int status)
{
	std::fprintf(err, "vorlix-records: %s\n", message.c_str());
	return status;
}

void LeaveOut(Context &c, const std::string &error)
{
	Fail(c.err, error, 0);
	++c.left_out;
}

bool FindSources(const RecordsOptions &options,
		 std::vector<RecordSource> &sources,
		 std::vector<std::string> &problems)
{
	if (!options.files.empty()) {
		sources = FindRecordSources(options.files, problems);
		return true;
	}
	const std::string path = MonitorDbPath(options.record_dir, options.user_id);
	if (path.empty()) {
		problems.push_back("no application-data folder: neither "
				   "XDG_CONFIG_HOME nor HOME is set");
		return false;
	}
	sources.push_back({path, std::to_string(options.user_id)});
	return true;
}

// Opens one file and checks its key on its first rows.
bool OpenSource(const Context &c, const RecordSource &source,
		RecordFile &file, std::string &key, std::string &error)
{
	if (!c.keys.Find(source, key, error) || !file.Open(source.path, error))
		return false;
	switch (CheckKey(file, key, error)) {
	case KeyCheck::Wrong:
		error = "wrong key: the records in " + source.path +
			" do not decrypt with it";
		return false;
	case KeyCheck::NoRows:
		return error.empty();
	case KeyCheck::Right:
		break;
	}
	return true;
}

struct Reading {
	int64_t rows = 0;
	int64_t damaged_rows = 0;
	std::string error;
};

// Reads the rows of the period of one file, decrypted, up to `limit` rows
// (all when < 0). False (with reading.error) when the file is left out.
bool ReadSource(const Context &c, const RecordSource &source, int64_t limit,
		const std::function<void(const Record &)> &use,
		Reading &reading)
{
	RecordFile file;
	std::string key;
	if (!OpenSource(c, source, file, key, reading.error))
		return false;
	RecordDecoder decoder(key);
	Record record;
	return file.ForEach(
		c.options.period,
		[&](const RawRecord &raw) {
			decoder.Decode(raw, record);
			reading.damaged_rows += record.damaged();
			++reading.rows;
			use(record);
			return true;
		},
		reading.error, limit);
}

int Finish(Context &c, Output &output)
{
	if (!output.Finish())
		return Fail(c.err, "cannot write the output", kExitBadInput);
	if (c.left_out == c.sources.size())
		return kExitBadInput;
	if (c.damaged_rows > 0)
		Fail(c.err,
		     "warning: " + std::to_string(c.damaged_rows) + " of " +
			     std::to_string(c.rows) +
			     " rows hold a value that does not decrypt "
			     "(shown as \"?\")",
		     0);
	if (c.left_out > 0)
		Fail(c.err,
		     "warning: " + std::to_string(c.left_out) + " of " +
			     std::to_string(c.sources.size()) +
			     " record files were left out",
		     0);
	return c.damaged_rows > 0 || c.left_out > 0 || c.empty_folders > 0
		       ? kExitDamagedRows
		       : kExitOk;
}

// The aligned table sizes its columns in a first pass over every file; the
// second pass shows the same rows, however many the monitor adds between.
std::vector<int64_t> MeasureList(Context &c, ListWriter &writer)
{
	std::vector<int64_t> counts(c.sources.size(), -1);
	for (size_t i = 0; i < c.sources.size(); ++i) {
		Reading reading;
		writer.SetUser(c.sources[i].user_id);
		if (ReadSource(c, c.sources[i], -1,
			       [&](const Record &record) {
				       if (MatchesProcess(record, c.options.processes))
					       writer.Measure(record);
			       },
			       reading))
			counts[i] = reading.rows;
		else
			LeaveOut(c, reading.error);
	}
	return counts;
}

int RunList(Context &c)
{
	std::unique_ptr<ListWriter> writer = MakeListWriter(c.options.format);
	const bool measure = writer->NeedsMeasure();
	const std::vector<int64_t> counts =
		measure ? MeasureList(c, *writer) : std::vector<int64_t>();
	Output output(c.out);
	bool header = false;
	for (size_t i = 0; i < c.sources.size(); ++i) {
		if (measure && counts[i] < 0)
			continue;
		Reading reading;
		writer->SetUser(c.sources[i].user_id);
		const bool read = ReadSource(
			c, c.sources[i], measure ? counts[i] : -1,
			[&](const Record &record) {
				if (!header)
					writer->Header(output.text());
				header = true;
				if (!MatchesProcess(record, c.options.processes))
					return;
				writer->Row(record, output.text());
				output.FlushIfFull();
			},
			reading);
		if (read && !header)
			writer->Header(output.text());
		header = header || read;
		c.rows += reading.rows;
		c.damaged_rows += reading.damaged_rows;
		if (!read)
			LeaveOut(c, reading.error);
	}
	return Finish(c, output);
}

// Counts one file: the intervals first, then every row.
void CountFile(const Context &c, const RecordSource &source,
	       Categories &categories, Tally &tally, Reading &reading)
{
	RecordFile file;
	std::string key;
	IntervalStats stats;
	if (!OpenSource(c, source, file, key, reading.error) ||
	    !file.ForEachCheckTime(
		    c.options.period, [&](int64_t t) { stats.Add(t); },
		    reading.error))
		return;
	SummaryInfo &info = tally.info;
	info.files = 1;
	info.rows = stats.rows();
	info.earliest = stats.earliest();
	info.latest = stats.latest();
	info.median = info.median_max = stats.Median();
	info.cap = info.cap_max =
		c.options.gap > 0 ? c.options.gap : 2 * info.median;
	info.idle_threshold = c.options.idle;
	RunCounter counter(
		info.median, info.cap, info.idle_threshold,
		[&](const Record &record, int64_t seconds, bool idle) {
			const std::string *category =
				categories.empty() || idle
					? nullptr
					: &categories.Of(ProcessLabel(record),
							 record.title);
			tally.Count(source.user_id, record, seconds, idle, category);
		});
	RecordDecoder decoder(key);
	Record record;
	file.ForEach(
		c.options.period,
		[&](const RawRecord &raw) {
			decoder.Decode(raw, record);
			reading.damaged_rows += record.damaged();
			++reading.rows;
			counter.Add(record);
			return true;
		},
		reading.error);
	counter.Finish();
	info.runs = counter.runs();
}

// Counts every file, on every core (files are independent), and merges
// the results; files left out are named in the order given.
void CountAll(Context &c, Tally &all)
{
	const size_t count = c.sources.size();
	std::vector<std::string> errors(count);
	std::atomic<size_t> next{0};
	std::mutex merge;
	auto work = [&]() {
		Categories categories = c.categories; // a cache of its own
		for (size_t i; (i = next++) < count;) {
			Tally tally(all.settings());
			Reading reading;
			try {
				CountFile(c, c.sources[i], categories, tally, reading);
			} catch (const std::exception &e) {
				reading.error = c.sources[i].path + ": " + e.what();
			}
			std::lock_guard<std::mutex> lock(merge);
			errors[i] = reading.error;
			c.rows += reading.rows;
			c.damaged_rows += reading.damaged_rows;
			if (reading.error.empty())
				all.Merge(tally);
		}
	};
	const size_t threads = std::min<size_t>(
		count, std::max(1u, std::thread::hardware_concurrency()));
	std::vector<std::thread> helpers;
	for (size_t i = 1; i < threads; ++i)
		helpers.emplace_back(work);
	work();
	for (std::thread &helper : helpers)
		helper.join();
	for (const std::string &error : errors)
		if (!error.empty())
			LeaveOut(c, error);
	all.info.idle_threshold = c.options.idle;
}

int RunSummary(Context &c)
{
	Tally all({c.options.by_user, c.options.by_day, false});
	CountAll(c, all);
	Output output(c.out);
	if (c.left_out < c.sources.size()) {
		output.text() = FormatSummary(all.info, all.totals);
		if (c.options.by_user || c.options.by_day)
			output.text() += FormatGroups(all, c.options.by_user,
						      c.options.by_day);
	}
	return Finish(c, output);
}

// Writes the page beside its final name and renames it into place, so that
// a failed write leaves no half page. The page is readable by its owner
// only: it holds the user's window titles.
bool WritePage(const std::string &path, const std::string &page,
	       std::string &error)
{
	QSaveFile file(records_names::QtName(path));
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

bool SeveralUsers(const std::vector<RecordSource> &sources)
{
	for (const RecordSource &source : sources)
		if (source.user_id != sources.front().user_id)
			return true;
	return false;
}

int RunReport(Context &c)
{
	const std::string &html = c.options.html;
	for (const RecordSource &source : c.sources)
		if (platform::SameFile(html.c_str(), source.path.c_str()))
			return Fail(c.err, "refusing to write the report over "
					   "the record file " + source.path,
				    kExitUsage);
	Tally all({SeveralUsers(c.sources), true, true});
	CountAll(c, all);
	std::string error;
	if (c.left_out == c.sources.size())
		return kExitBadInput;
	if (!WritePage(html, RenderReport(all, !c.categories.empty()), error))
		return Fail(c.err, error, kExitBadInput);
	Output output(c.out);
	output.text() = "Report written to " + html + " (" +
			std::to_string(all.info.rows) + " rows)\n";
	return Finish(c, output);
}

int RunCommand(Context &c)
{
	switch (c.options.command) {
	case RecordsCommand::List:
		return RunList(c);
	case RecordsCommand::Summary:
		return RunSummary(c);
	case RecordsCommand::Report:
		return RunReport(c);
	case RecordsCommand::None:
		break;
	}
	return kExitUsage;
}

} // namespace

int RunRecords(const std::vector<std::string> &args, FILE *out, FILE *err)
{
	RecordsOptions options;
	std::string error;
	if (!ParseRecordsOptions(args, options, error))
		return Fail(err, error + " (see --help)", kExitUsage);
	if (options.help) {
		std::fputs(RecordsUsage(), out);
		return kExitOk;
	}
	Context c{options, out, err};
	if (!c.keys.Load(options, error) ||
	    (!options.categories_file.empty() &&
	     !c.categories.Load(options.categories_file, error)))
		return Fail(err, error, kExitBadInput);
	std::vector<std::string> problems;
	const bool found = FindSources(options, c.sources, problems);
	for (const std::string &problem : problems)
		Fail(err, problem, 0);
	c.empty_folders = problems.size();
	if (!found || c.sources.empty())
		return kExitBadInput;
	return RunCommand(c);
}
