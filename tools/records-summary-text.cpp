#include "tools/records-summary-text.h"

#include <algorithm>
#include <cstdio>

#include "tools/records-text.h"
#include "tools/records-time.h"

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

void AppendNamedTimes(const char *heading, const std::vector<NamedTime> &lines,
		      const SummaryTotals &totals, std::string &out)
{
	const int64_t total = totals.total_seconds();
	std::vector<TextRow> rows = {{heading, "Seconds", "Time", "Share"}};
	for (const NamedTime &line : lines)
		rows.push_back(Join({line.name}, TimeCells(line.seconds, total)));
	rows.push_back(Join({"(idle)"}, TimeCells(totals.idle_seconds(), total)));
	rows.push_back(Join({"Total"}, TimeCells(total, total)));
	AppendAligned(rows, {false, true, true, true}, out);
}

// The time per executable, or per category, with idle time and the total.
void AppendExecutableTable(const SummaryTotals &totals, std::string &out)
{
	AppendNamedTimes("Executable", totals.Executables(), totals, out);
}

void AppendCategoryTable(const SummaryTotals &totals, std::string &out)
{
	AppendNamedTimes("Category", totals.Categories(), totals, out);
}

void AppendTitles(const SummaryTotals &totals, std::string &out)
{
	const int64_t total = totals.total_seconds();
	std::vector<TextRow> rows = {
		{"Seconds", "Time", "Share", "Executable", "Title"}};
	for (const TitleTime &line : totals.Titles())
		rows.push_back(Join(TimeCells(line.seconds, total),
				    {line.process, line.title}));
	AppendAligned(rows, {true, true, true, false, false}, out);
}

std::string Heading(const SummaryInfo &info)
{
	std::string out = "Rows " + std::to_string(info.rows);
	if (info.files > 1)
		out += " of " + std::to_string(info.files) + " files";
	out += " from " + FormatLocalTime(info.earliest) + " to " +
	       FormatLocalTime(info.latest) + " in " +
	       std::to_string(info.runs) + (info.runs == 1 ? " run\n" : " runs\n");
	out += "Median interval " + FormatRange(info.median, info.median_max) +
	       ", gap cap " + FormatRange(info.cap, info.cap_max) +
	       ", idle from " + std::to_string(info.idle_threshold) + " s\n";
	out += "Time zone " + TimeZoneDescription() + "\n";
	return out;
}

std::string GroupName(const GroupKey &key, bool by_user)
{
	if (!by_user)
		return "Day " + key.day;
	const std::string user = "User " + UserName(key.user);
	return key.day.empty() ? user : user + ", day " + key.day;
}

// The time at work and idle of each group, then each group's time per
// executable (and category).
void AppendGroups(const Tally &tally, std::string &out)
{
	const bool by_user = tally.settings().by_user;
	const bool by_day = tally.settings().by_day;
	std::vector<TextRow> rows;
	TextRow head;
	if (by_user)
		head.push_back("User");
	if (by_day)
		head.push_back("Day");
	std::vector<bool> right(head.size(), false);
	right.insert(right.end(), 3, true);
	head.insert(head.end(), {"At work", "Idle", "Total"});
	rows.push_back(head);
	for (const auto &entry : tally.groups) {
		TextRow row;
		if (by_user)
			row.push_back(UserName(entry.first.user));
		if (by_day)
			row.push_back(entry.first.day);
		const SummaryTotals &totals = entry.second.totals;
		row.insert(row.end(), {FormatDuration(totals.active_seconds()),
				       FormatDuration(totals.idle_seconds()),
				       FormatDuration(totals.total_seconds())});
		rows.push_back(row);
	}
	out += "\n";
	AppendAligned(rows, right, out);
	for (const auto &entry : tally.groups) {
		out += "\n" + GroupName(entry.first, by_user) + "\n";
		AppendExecutableTable(entry.second.totals, out);
		if (entry.second.totals.has_categories()) {
			out += '\n';
			AppendCategoryTable(entry.second.totals, out);
		}
	}
}

} // namespace

std::string FormatSummaryText(const Tally &tally)
{
	const SummaryInfo &info = tally.info;
	if (info.rows == 0)
		return "No rows in the period.\n";
	std::string out = Heading(info) + "\n";
	const SummaryTotals &totals = tally.totals;
	AppendExecutableTable(totals, out);
	out += '\n';
	if (totals.has_categories()) {
		AppendCategoryTable(totals, out);
		out += '\n';
	}
	AppendTitles(totals, out);
	if (tally.settings().by_user || tally.settings().by_day)
		AppendGroups(tally, out);
	return out;
}
