#include "tools/records-summary.h"

#include <algorithm>
#include <cstdio>

#include "tools/records-text.h"
#include "tools/records-time.h"

void IntervalStats::Add(int64_t check_tm)
{
	if (rows_ == 0) {
		earliest_ = latest_ = check_tm;
	} else {
		earliest_ = std::min(earliest_, check_tm);
		latest_ = std::max(latest_, check_tm);
		// Unsigned: a difference across the whole 64-bit range must not
		// overflow; such an "interval" is no interval anyway.
		const uint64_t step = static_cast<uint64_t>(check_tm) -
				      static_cast<uint64_t>(previous_);
		if (check_tm > previous_ && step <= INT64_MAX) {
			++counts_[static_cast<int64_t>(step)];
			++positive_;
		}
	}
	previous_ = check_tm;
	++rows_;
}

int64_t IntervalStats::Median() const
{
	if (positive_ == 0)
		return kDefaultInterval;
	int64_t remaining = (positive_ - 1) / 2;
	for (const auto &entry : counts_) {
		if (remaining < entry.second)
			return entry.first;
		remaining -= entry.second;
	}
	return counts_.rbegin()->first;
}

RunCounter::RunCounter(int64_t median, int64_t cap, int64_t idle_threshold,
		       Sink sink)
	: last_of_run_(std::min(median, cap)),
	  cap_(cap),
	  idle_threshold_(idle_threshold),
	  sink_(std::move(sink))
{
}

void RunCounter::CountPending(int64_t seconds)
{
	int64_t idle = 0;
	const bool is_idle =
		pending_.idle_seconds(idle) && idle >= idle_threshold_;
	sink_(pending_, seconds, is_idle);
}

void RunCounter::Add(const Record &record)
{
	if (!has_pending_) {
		++runs_;
	} else {
		const uint64_t step = static_cast<uint64_t>(record.check_tm) -
				      static_cast<uint64_t>(pending_.check_tm);
		const bool same_run = record.check_tm >= pending_.check_tm &&
				      step <= static_cast<uint64_t>(cap_);
		CountPending(same_run ? static_cast<int64_t>(step)
				      : last_of_run_);
		runs_ += !same_run;
	}
	pending_ = record;
	has_pending_ = true;
}

void RunCounter::Finish()
{
	if (has_pending_)
		CountPending(last_of_run_);
	has_pending_ = false;
}

const std::string &ProcessLabel(const Record &record)
{
	static const std::string kDamagedName = "?";
	return record.process_ok ? record.process : kDamagedName;
}

void SummaryTotals::Count(const Record &record, int64_t seconds, bool idle,
			  const std::string *category)
{
	if (idle) {
		idle_ += seconds;
		return;
	}
	active_ += seconds;
	const std::string &name = ProcessLabel(record);
	executables_[name] += seconds;
	if (category)
		categories_[*category] += seconds;
	if (!with_titles_)
		return;
	title_key_.assign(name).append(1, '\0').append(record.title);
	const auto found = titles_.find(title_key_);
	if (found != titles_.end())
		found->second += seconds;
	else
		titles_.emplace(title_key_, seconds);
}

void SummaryTotals::Merge(const SummaryTotals &other)
{
	active_ += other.active_;
	idle_ += other.idle_;
	for (const auto &entry : other.executables_)
		executables_[entry.first] += entry.second;
	for (const auto &entry : other.categories_)
		categories_[entry.first] += entry.second;
	if (with_titles_)
		for (const auto &entry : other.titles_)
			titles_[entry.first] += entry.second;
}

void SummaryInfo::Merge(const SummaryInfo &other)
{
	if (other.rows == 0) {
		files += other.files;
		return;
	}
	const bool first = rows == 0;
	earliest = first ? other.earliest : std::min(earliest, other.earliest);
	latest = first ? other.latest : std::max(latest, other.latest);
	median = first ? other.median : std::min(median, other.median);
	median_max = first ? other.median_max
			   : std::max(median_max, other.median_max);
	cap = first ? other.cap : std::min(cap, other.cap);
	cap_max = first ? other.cap_max : std::max(cap_max, other.cap_max);
	idle_threshold = other.idle_threshold;
	files += other.files;
	rows += other.rows;
	runs += other.runs;
}

namespace {

void SortLines(std::vector<SummaryLine> &lines)
{
	std::sort(lines.begin(), lines.end(),
		  [](const SummaryLine &a, const SummaryLine &b) {
			  if (a.seconds != b.seconds)
				  return a.seconds > b.seconds;
			  if (a.process != b.process)
				  return a.process < b.process;
			  return a.title < b.title;
		  });
}

std::vector<SummaryLine> SortedLines(
	const std::unordered_map<std::string, int64_t> &totals)
{
	std::vector<SummaryLine> lines;
	for (const auto &entry : totals)
		lines.push_back({entry.first, std::string(), entry.second});
	SortLines(lines);
	return lines;
}

} // namespace

std::vector<SummaryLine> SummaryTotals::Executables() const
{
	return SortedLines(executables_);
}

std::vector<SummaryLine> SummaryTotals::CategoryLines() const
{
	return SortedLines(categories_);
}

std::vector<SummaryLine> SummaryTotals::Titles() const
{
	std::vector<SummaryLine> lines;
	for (const auto &entry : titles_) {
		const size_t nul = entry.first.find('\0');
		lines.push_back({entry.first.substr(0, nul),
				 entry.first.substr(nul + 1), entry.second});
	}
	SortLines(lines);
	return lines;
}

std::string FormatShare(int64_t part, int64_t total)
{
	if (total <= 0)
		return "-";
	char text[32];
	snprintf(text, sizeof(text), "%.1f%%",
		 100.0 * static_cast<double>(part) / static_cast<double>(total));
	return text;
}

std::string FormatRange(int64_t low, int64_t high)
{
	return low == high ? std::to_string(low) + " s"
			   : std::to_string(low) + " to " +
				     std::to_string(high) + " s";
}

using TextRow = std::vector<std::string>;

void AppendAligned(const std::vector<TextRow> &rows,
		   const std::vector<bool> &right, std::string &out)
{
	std::vector<size_t> widths(right.size(), 0);
	for (const TextRow &row : rows)
		for (size_t i = 0; i < row.size(); ++i)
			widths[i] = std::max(widths[i],
					     DisplayWidth(PrintableText(row[i])));
	for (const TextRow &row : rows) {
		for (size_t i = 0; i < row.size(); ++i) {
			const std::string text = PrintableText(row[i]);
			const size_t pad = widths[i] - DisplayWidth(text);
			const bool last = i + 1 == row.size();
			if (right[i])
				out.append(pad, ' ');
			out += text;
			if (!right[i] && !last)
				out.append(pad, ' ');
			out += last ? "\n" : "  ";
		}
	}
}

namespace {

TextRow TimeCells(int64_t seconds, int64_t total)
{
	return {std::to_string(seconds), FormatDuration(seconds),
		FormatShare(seconds, total)};
}

TextRow Join(TextRow head, const TextRow &tail)
{
	head.insert(head.end(), tail.begin(), tail.end());
	return head;
}

} // namespace

void AppendTimeTable(const SummaryTotals &totals, bool categories,
		     std::string &out)
{
	const int64_t total = totals.total_seconds();
	std::vector<TextRow> rows = {
		{categories ? "Category" : "Executable", "Seconds", "Time", "Share"}};
	for (const SummaryLine &line :
	     categories ? totals.CategoryLines() : totals.Executables())
		rows.push_back(Join({line.process}, TimeCells(line.seconds, total)));
	rows.push_back(Join({"(idle)"}, TimeCells(totals.idle_seconds(), total)));
	rows.push_back(Join({"Total"}, TimeCells(total, total)));
	AppendAligned(rows, {false, true, true, true}, out);
}

namespace {

void AppendTitles(const SummaryTotals &totals, std::string &out)
{
	const int64_t total = totals.total_seconds();
	std::vector<TextRow> rows = {
		{"Seconds", "Time", "Share", "Executable", "Title"}};
	for (const SummaryLine &line : totals.Titles())
		rows.push_back(Join(TimeCells(line.seconds, total),
				    {line.process, line.title}));
	AppendAligned(rows, {true, true, true, false, false}, out);
}

} // namespace

std::string FormatSummary(const SummaryInfo &info,
			  const SummaryTotals &totals)
{
	if (info.rows == 0)
		return "No rows in the period.\n";
	std::string out = "Rows " + std::to_string(info.rows);
	if (info.files > 1)
		out += " of " + std::to_string(info.files) + " files";
	out += " from " + FormatLocalTime(info.earliest) + " to " +
	       FormatLocalTime(info.latest) + " in " +
	       std::to_string(info.runs) + (info.runs == 1 ? " run\n" : " runs\n");
	out += "Median interval " + FormatRange(info.median, info.median_max) +
	       ", gap cap " + FormatRange(info.cap, info.cap_max) +
	       ", idle from " + std::to_string(info.idle_threshold) + " s\n\n";
	AppendTimeTable(totals, false, out);
	out += '\n';
	if (totals.has_categories()) {
		AppendTimeTable(totals, true, out);
		out += '\n';
	}
	AppendTitles(totals, out);
	return out;
}
