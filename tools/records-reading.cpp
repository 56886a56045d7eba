#include "tools/records-reading.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "tools/records-file.h"

namespace {

constexpr size_t kFlushBytes = 1 << 16;

} // namespace

void Output::FlushIfFull()
{
	if (text_.size() >= kFlushBytes)
		Flush();
}

bool Output::Finish()
{
	Flush();
	return !failed_ && std::fflush(file_) == 0 && !std::ferror(file_);
}

void Output::Flush()
{
	if (!text_.empty() &&
	    std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size())
		failed_ = true;
	text_.clear();
}

void Tell(FILE *err, const std::string &message)
{
	std::fprintf(err, "vorlix-records: %s\n", message.c_str());
}

void Warn(FILE *err, const std::string &message)
{
	Tell(err, "warning: " + message);
}

int Fail(FILE *err, const std::string &message, int status)
{
	Tell(err, message);
	return status;
}

void LeaveOut(Context &c, const std::string &error)
{
	Tell(c.err, error);
	c.left_out.push_back(error);
}

namespace {

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

} // namespace

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

bool ReadRawSource(const Context &c, const RecordSource &source,
		   const std::function<void(const RawRecord &)> &use,
		   Reading &reading)
{
	RecordFile file;
	std::string key;
	if (!OpenSource(c, source, file, key, reading.error))
		return false;
	return file.ForEach(
		c.options.period,
		[&](const RawRecord &raw) {
			++reading.rows;
			use(raw);
			return true;
		},
		reading.error);
}

int Finish(Context &c, Output &output)
{
	if (!output.Finish())
		return Fail(c.err, "cannot write the output", kExitBadInput);
	if (c.left_out.size() == c.sources.size())
		return kExitBadInput;
	if (c.damaged_rows > 0)
		Warn(c.err, std::to_string(c.damaged_rows) + " of " +
				    std::to_string(c.rows) +
				    " rows hold a value that does not decrypt "
				    "(shown as \"?\")");
	if (!c.left_out.empty())
		Warn(c.err, std::to_string(c.left_out.size()) + " of " +
				    std::to_string(c.sources.size()) +
				    " record files were left out");
	return c.damaged_rows > 0 || !c.left_out.empty() || !c.empty_folders.empty()
		       ? kExitDamagedRows
		       : kExitOk;
}

namespace {

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

} // namespace

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

