#include "tools/records-report-page.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/platform.h"
#include "tools/records-summary-text.h"
#include "tools/records-text.h"
#include "tools/records-time.h"

namespace {

constexpr int kLabelWidth = 150;
constexpr int kPlotWidth = 900;
constexpr int kLaneHeight = 16;
constexpr int kLaneStep = 20;
constexpr int kAxisHeight = 26;
constexpr int64_t kHour = 3600;
// Colours beyond these many go to one grey "other" band, so that the
// colours stay apart: no two of them, nor the grey, are closer than 23 in
// CIELAB (CIE76; 18 in CIEDE2000, as close as the red and the pink).
constexpr size_t kColours = 12;
// The tables list this many lines and sum up the rest.
constexpr size_t kExecutableLines = 25;
constexpr size_t kTitleLines = 100;

const char *const kPalette[kColours] = {
	"#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f", "#edc948",
	"#b07aa1", "#ff9da7", "#9c755f", "#1f3b73", "#7f3c8d", "#333333"};
const char *const kOtherColour = "#9a9a9a";
const char *const kOtherName = "(other)";

const char *const kStyle =
	"body{font-family:sans-serif;margin:24px;color:#222}"
	"h1{font-size:20px}h2{font-size:16px;margin-top:28px}"
	"h3{font-size:14px;margin:18px 0 4px}"
	"table{border-collapse:collapse}"
	"td,th{padding:3px 10px;border-bottom:1px solid #ddd;text-align:left}"
	"td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}"
	// A title of thousands of characters wraps inside its column instead
	// of pushing the figures off the screen.
	"td{overflow-wrap:anywhere}td.t{max-width:40em}"
	".left-out{border-left:4px solid #e15759;padding:2px 12px;margin:12px 0}"
	".swatch{display:inline-block;width:12px;height:12px;margin-right:6px}"
	".legend span.item{margin-right:18px;white-space:nowrap}"
	"svg text{font-size:12px;fill:#333}"
	"svg .track{fill:#f2f2f2}svg .tick{stroke:#ccc}";

std::string Html(const std::string &text)
{
	std::string out;
	AppendHtmlText(out, text);
	return out;
}

std::string Number(double value)
{
	char text[32];
	snprintf(text, sizeof(text), "%.2f", value);
	return text;
}

// The colour of each band name: the longest first get the palette.
class Colours {
public:
	explicit Colours(const std::vector<NamedTime> &lines) : lines_(lines)
	{
		for (size_t i = 0; i < lines.size() && i < kColours; ++i)
			colours_.emplace(lines[i].name, kPalette[i]);
	}
	const char *Of(const std::string &name) const
	{
		const auto found = colours_.find(name);
		return found == colours_.end() ? kOtherColour : found->second;
	}
	const std::string &Name(const std::string &name) const
	{
		static const std::string other = kOtherName;
		return colours_.count(name) ? name : other;
	}
	const std::vector<NamedTime> &lines() const { return lines_; }

private:
	std::vector<NamedTime> lines_;
	std::map<std::string, const char *> colours_;
};

// The part of the day that the timelines show: whole hours around every
// stretch of work, measured from local midnight.
struct Axis {
	int64_t from = 0;
	int64_t to = 24 * kHour;
	double X(int64_t offset) const
	{
		const int64_t clipped = std::min(std::max(offset, from), to);
		return kLabelWidth + static_cast<double>(clipped - from) *
					     kPlotWidth /
					     static_cast<double>(to - from);
	}
};

Axis FindAxis(const Tally &tally)
{
	bool any = false;
	int64_t low = 0, high = 0;
	for (const auto &group : tally.groups)
		for (const auto &band : group.second.bands)
			for (const Segment &s : band.second) {
				const int64_t a = s.start - group.second.day_start;
				const int64_t b = s.end - group.second.day_start;
				low = any ? std::min(low, a) : a;
				high = any ? std::max(high, b) : b;
				any = true;
			}
	Axis axis;
	if (any) {
		axis.from = low / kHour * kHour;
		axis.to = std::max(axis.from + kHour,
				   (high + kHour - 1) / kHour * kHour);
	}
	return axis;
}

void AppendTicks(const Axis &axis, int height, std::string &out)
{
	static const int64_t kSteps[] = {300, 600, 900, 1800, 3600, 7200, 10800};
	int64_t step = kSteps[0];
	for (int64_t candidate : kSteps)
		if ((axis.to - axis.from) / (step = candidate) <= 12)
			break;
	out += "<g class=\"axis\">";
	for (int64_t t = axis.from; t <= axis.to; t += step) {
		const std::string x = Number(axis.X(t));
		char label[16];
		snprintf(label, sizeof(label), "%02d:%02d",
			 static_cast<int>(t / kHour),
			 static_cast<int>(t % kHour / 60));
		out += "<line class=\"tick\" x1=\"" + x + "\" x2=\"" + x +
		       "\" y1=\"" + std::to_string(kAxisHeight - 6) + "\" y2=\"" +
		       std::to_string(height) + "\"/><text x=\"" + x + "\" y=\"" +
		       std::to_string(kAxisHeight - 10) +
		       "\" text-anchor=\"middle\">" + label + "</text>";
	}
	out += "</g>\n";
}

std::string DayLabel(const GroupData &group, const std::string &day)
{
	static const char *const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed",
						"Thu", "Fri", "Sat"};
	std::tm local{};
	if (!platform::LocalTime(group.day_start, &local) || local.tm_wday < 0 ||
	    local.tm_wday > 6)
		return day;
	return day + " " + kWeekdays[local.tm_wday];
}

// One band per colour: a thick line through the lane, one piece per
// stretch, pieces less than half a pixel apart drawn as one.
void AppendBands(const GroupData &group, const Colours &colours,
		 const Axis &axis, int y, std::string &out)
{
	std::map<std::string, std::vector<Segment>> merged;
	std::map<std::string, int64_t> seconds;
	for (const auto &band : group.bands) {
		const std::string &name = colours.Name(band.first);
		std::vector<Segment> &into = merged[name];
		into.insert(into.end(), band.second.begin(), band.second.end());
		for (const Segment &s : band.second)
			seconds[name] += s.end - s.start;
	}
	const std::string middle = std::to_string(y + kLaneHeight / 2);
	for (auto &band : merged) {
		std::vector<Segment> &segments = band.second;
		std::sort(segments.begin(), segments.end(),
			  [](const Segment &a, const Segment &b) {
				  return a.start < b.start;
			  });
		std::string path;
		double x0 = 0, x1 = -1;
		auto flush = [&]() {
			if (x1 >= x0)
				path += "M" + Number(x0) + " " + middle + "h" +
					Number(std::max(0.5, x1 - x0));
		};
		for (const Segment &s : segments) {
			const double a = axis.X(s.start - group.day_start);
			const double b = axis.X(s.end - group.day_start);
			if (x1 >= x0 && a - x1 < 0.5) {
				x1 = std::max(x1, b);
				continue;
			}
			flush();
			x0 = a;
			x1 = b;
		}
		flush();
		out += "<path class=\"work\" data-name=\"" + Html(band.first) +
		       "\" d=\"" + path + "\" stroke=\"" +
		       colours.Of(band.first == kOtherName ? std::string()
							   : band.first) +
		       "\" stroke-width=\"" + std::to_string(kLaneHeight) +
		       "\"><title>" + Html(band.first) + ": " +
		       FormatDuration(seconds[band.first]) + "</title></path>";
	}
}

using GroupIterator = std::map<GroupKey, GroupData>::const_iterator;

// The timeline of one user (or of everyone, when not grouped by user):
// one lane per day.
void AppendTimeline(GroupIterator first, GroupIterator last,
		    const Colours &colours, const Axis &axis, std::string &out)
{
	const int lanes = static_cast<int>(std::distance(first, last));
	const int height = kAxisHeight + lanes * kLaneStep;
	const int width = kLabelWidth + kPlotWidth + 30;
	out += "<svg class=\"timeline\" width=\"" + std::to_string(width) +
	       "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
	       std::to_string(width) + " " + std::to_string(height) +
	       "\" shape-rendering=\"crispEdges\" role=\"img\" "
	       "aria-label=\"Work over each day\">\n";
	AppendTicks(axis, height, out);
	int y = kAxisHeight;
	for (GroupIterator it = first; it != last; ++it, y += kLaneStep) {
		out += "<g class=\"day\" data-day=\"" + Html(it->first.day) +
		       "\"><text x=\"" + std::to_string(kLabelWidth - 8) +
		       "\" y=\"" + std::to_string(y + 12) +
		       "\" text-anchor=\"end\">" +
		       Html(DayLabel(it->second, it->first.day)) +
		       "</text><rect class=\"track\" x=\"" +
		       std::to_string(kLabelWidth) + "\" y=\"" +
		       std::to_string(y) + "\" width=\"" +
		       std::to_string(kPlotWidth) + "\" height=\"" +
		       std::to_string(kLaneHeight) + "\"/>";
		AppendBands(it->second, colours, axis, y, out);
		out += "</g>\n";
	}
	out += "</svg>\n";
}

void AppendLegend(const Colours &colours, std::string &out)
{
	out += "<p class=\"legend\">";
	const std::vector<NamedTime> &lines = colours.lines();
	for (size_t i = 0; i < lines.size() && i <= kColours; ++i) {
		const bool other = i == kColours;
		out += "<span class=\"item\"><span class=\"swatch\" "
		       "style=\"background:" +
		       std::string(other ? kOtherColour : kPalette[i]) +
		       "\"></span>" + Html(other ? kOtherName : lines[i].name) +
		       "</span>";
	}
	out += "</p>\n";
}

void AppendTimelines(const Tally &tally, const Colours &colours,
		     std::string &out)
{
	const Axis axis = FindAxis(tally);
	AppendLegend(colours, out);
	const bool by_user = tally.settings().by_user;
	for (GroupIterator first = tally.groups.begin();
	     first != tally.groups.end();) {
		GroupIterator last = first;
		while (last != tally.groups.end() &&
		       (!by_user || last->first.user == first->first.user))
			++last;
		if (by_user)
			out += "<h3>User " + Html(UserName(first->first.user)) +
			       "</h3>\n";
		AppendTimeline(first, last, colours, axis, out);
		first = last;
	}
}

std::string Cell(const std::string &text, bool number = false)
{
	return (number ? "<td class=\"n\">" : "<td>") + Html(text) + "</td>";
}

std::string TimeCells(int64_t seconds, int64_t total)
{
	return Cell(std::to_string(seconds), true) +
	       Cell(FormatDuration(seconds), true) +
	       Cell(FormatShare(seconds, total), true) + "</tr>\n";
}

void AppendDayTable(const Tally &tally, std::string &out)
{
	const bool by_user = tally.settings().by_user;
	out += "<h2>Days</h2>\n<table class=\"days\"><tr>";
	out += by_user ? "<th>User</th>" : "";
	out += "<th>Day</th><th>At work</th><th>Idle</th><th>Total</th></tr>\n";
	for (const auto &group : tally.groups) {
		const SummaryTotals &t = group.second.totals;
		out += "<tr>";
		if (by_user)
			out += Cell(UserName(group.first.user));
		out += Cell(DayLabel(group.second, group.first.day)) +
		       Cell(FormatDuration(t.active_seconds()), true) +
		       Cell(FormatDuration(t.idle_seconds()), true) +
		       Cell(FormatDuration(t.total_seconds()), true) + "</tr>\n";
	}
	out += "</table>\n";
}

// What a table of named times shows.
struct NamedTable {
	const char *heading;	  // "Time per category"
	const char *css_class;	  // "category"
	const char *first_column; // "Category"
};
const NamedTable kCategoryTable = {"Time per category", "category", "Category"};
const NamedTable kExecutableTable = {"Time per executable", "executable",
				     "Executable"};

// Time per executable or per category, the longest first; past `limit`
// lines the rest is summed up in one.
void AppendNamedTable(const NamedTable &table,
		      const std::vector<NamedTime> &lines,
		      const SummaryTotals &totals, const Colours *colours,
		      size_t limit, std::string &out)
{
	const int64_t total = totals.total_seconds();
	out += std::string("<h2>") + table.heading + "</h2>\n<table class=\"" +
	       table.css_class + "\"><tr><th>" + table.first_column +
	       "</th><th>Seconds</th><th>Time</th><th>Share</th></tr>\n";
	int64_t rest = 0;
	for (size_t i = 0; i < lines.size(); ++i) {
		if (i >= limit) {
			rest += lines[i].seconds;
			continue;
		}
		out += "<tr><td>";
		if (colours)
			out += std::string("<span class=\"swatch\" style=\"background:") +
			       colours->Of(lines[i].name) + "\"></span>";
		out += Html(lines[i].name) + "</td>" +
		       TimeCells(lines[i].seconds, total);
	}
	if (lines.size() > limit)
		out += "<tr><td>(" + std::to_string(lines.size() - limit) +
		       " more)</td>" + TimeCells(rest, total);
	out += "<tr><td>(idle)</td>" + TimeCells(totals.idle_seconds(), total);
	out += "<tr><th>Total</th>" + TimeCells(total, total) + "</table>\n";
}

void AppendTitleTable(const SummaryTotals &totals, std::string &out)
{
	const int64_t total = totals.total_seconds();
	const std::vector<TitleTime> lines = totals.Titles();
	out += "<h2>Time per window title</h2>\n<table class=\"titles\">"
	       "<tr><th>Executable</th><th>Title</th><th>Seconds</th>"
	       "<th>Time</th><th>Share</th></tr>\n";
	for (size_t i = 0; i < lines.size() && i < kTitleLines; ++i)
		out += "<tr>" + Cell(lines[i].process) +
		       "<td class=\"t\">" + Html(lines[i].title) + "</td>" +
		       TimeCells(lines[i].seconds, total);
	out += "</table>\n";
	if (lines.size() > kTitleLines)
		out += "<p>The " + std::to_string(kTitleLines) + " longest of " +
		       std::to_string(lines.size()) + " titles.</p>\n";
}

// Whoever reads the page, not standard error, must learn that files are
// missing from it.
void AppendLeftOut(const ReportNotes &notes, std::string &out)
{
	if (notes.left_out.empty() && notes.empty_folders.empty())
		return;
	out += "<div class=\"left-out\">";
	if (!notes.left_out.empty())
		out += "<p>" + std::to_string(notes.left_out.size()) + " of " +
		       std::to_string(notes.files) +
		       " record files were left out:</p>\n<ul>";
	else
		out += "<ul>";
	for (const std::string &line : notes.left_out)
		out += "<li>" + Html(line) + "</li>\n";
	for (const std::string &line : notes.empty_folders)
		out += "<li>" + Html(line) + "</li>\n";
	out += "</ul></div>\n";
}

std::string Heading(const SummaryInfo &info)
{
	if (info.rows == 0)
		return "No rows in the period";
	std::string heading = "Activity from " + FormatLocalTime(info.earliest) +
			      " to " + FormatLocalTime(info.latest) + ", " +
			      std::to_string(info.rows) +
			      (info.rows == 1 ? " row" : " rows");
	if (info.files > 1)
		heading += " of " + std::to_string(info.files) + " files";
	return heading;
}

std::string Settings(const SummaryInfo &info)
{
	return "<p class=\"settings\">" + std::to_string(info.runs) +
	       (info.runs == 1 ? " run" : " runs") + "; median interval " +
	       FormatRange(info.median, info.median_max) + ", gap cap " +
	       FormatRange(info.cap, info.cap_max) + ", idle from " +
	       std::to_string(info.idle_threshold) +
	       " s. Idle time and gaps between runs are left blank; time that "
	       "crosses midnight is split there. Times and days are those of "
	       "the time zone " + Html(TimeZoneDescription()) + ".</p>\n";
}

} // namespace

std::string RenderReport(const Tally &tally, const ReportNotes &notes)
{
	const bool categories = notes.categories;
	const SummaryInfo &info = tally.info;
	const std::string heading = Html(Heading(info));
	// The policy forbids every resource from elsewhere and every script;
	// only the inline style is allowed.
	std::string out =
		"<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n"
		"<meta charset=\"utf-8\">\n"
		"<meta http-equiv=\"Content-Security-Policy\" "
		"content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
		"<title>" + heading + "</title>\n<style>" + kStyle +
		"</style>\n</head>\n<body>\n<h1>" + heading + "</h1>\n";
	AppendLeftOut(notes, out);
	if (info.rows == 0)
		return out + "</body>\n</html>\n";
	out += Settings(info);
	const SummaryTotals &totals = tally.totals;
	const Colours colours(categories ? totals.Categories()
					 : totals.Executables());
	AppendTimelines(tally, colours, out);
	AppendDayTable(tally, out);
	if (categories)
		AppendNamedTable(kCategoryTable, totals.Categories(), totals,
				 &colours, colours.lines().size(), out);
	AppendNamedTable(kExecutableTable, totals.Executables(), totals,
			 categories ? nullptr : &colours, kExecutableLines, out);
	AppendTitleTable(totals, out);
	return out + "</body>\n</html>\n";
}
