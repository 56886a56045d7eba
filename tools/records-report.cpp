#include "tools/records-report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/platform.h"
#include "tools/records-text.h"
#include "tools/records-time.h"

namespace {

constexpr int kLabelWidth = 200;
constexpr int kPlotWidth = 900;
constexpr int kLaneHeight = 22;
constexpr int kLaneStep = 28;
constexpr int kAxisHeight = 28;
constexpr size_t kLabelChars = 26;

const char *const kPalette[] = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2",
				"#59a14f", "#edc948", "#b07aa1", "#ff9da7",
				"#9c755f", "#bab0ac"};
constexpr int kPaletteSize = sizeof(kPalette) / sizeof(kPalette[0]);

const char *const kStyle =
	"body{font-family:sans-serif;margin:24px;color:#222}"
	"h1{font-size:20px}h2{font-size:16px;margin-top:28px}"
	"table{border-collapse:collapse}"
	"td,th{padding:3px 10px;border-bottom:1px solid #ddd;text-align:left}"
	"td.n{text-align:right;font-variant-numeric:tabular-nums}"
	".swatch{display:inline-block;width:12px;height:12px;margin-right:6px}"
	"svg text{font-size:12px;fill:#333}"
	"svg .track{fill:#f2f2f2}svg .tick{stroke:#ccc}";

std::string Html(const std::string &text)
{
	std::string out;
	AppendHtmlText(out, text);
	return out;
}

// Colour of the executable at `index` in the summary's order: a fixed
// palette first, then hues spread by the golden angle.
std::string BandColour(size_t index)
{
	if (index < kPaletteSize)
		return kPalette[index];
	char text[40];
	snprintf(text, sizeof(text), "hsl(%d,55%%,50%%)",
		 static_cast<int>((index * 137.508)) % 360);
	return text;
}

std::string Number(double value)
{
	char text[32];
	snprintf(text, sizeof(text), "%.2f", value);
	return text;
}

// The executable's name cut for the label column (the full name is in the
// band's tooltip).
std::string LabelText(const std::string &name)
{
	std::string valid;
	AppendValidUtf8(valid, name);
	size_t chars = 0, pos = 0;
	for (; pos < valid.size(); ++pos)
		if ((valid[pos] & 0xC0) != 0x80 && ++chars > kLabelChars)
			break;
	return pos < valid.size() ? valid.substr(0, pos) + "\u2026" : valid;
}

} // namespace

void Timeline::Add(const std::string &process, int64_t start,
		   int64_t seconds)
{
	if (seconds <= 0)
		return;
	const int64_t end = start + seconds;
	std::vector<Segment> &segments = bands_[process];
	if (!segments.empty() && start >= segments.back().start &&
	    start <= segments.back().end + join_)
		segments.back().end = std::max(segments.back().end, end);
	else
		segments.push_back({start, end});
	start_ = any_ ? std::min(start_, start) : start;
	end_ = any_ ? std::max(end_, end) : end;
	any_ = true;
}

const std::vector<Segment> *Timeline::Segments(const std::string &process) const
{
	const auto found = bands_.find(process);
	return found == bands_.end() ? nullptr : &found->second;
}

int64_t TimelineJoin(int64_t span)
{
	return std::max<int64_t>(0, span / (2 * kPlotWidth));
}

namespace {

// Seconds east of UTC at `t` in the local time zone, so that the axis ticks
// fall on round local times.
int64_t LocalOffset(int64_t t)
{
	std::tm local{};
	if (!platform::LocalTime(t, &local))
		return 0;
	// Days from the civil date (proleptic Gregorian calendar).
	const int64_t month = local.tm_mon + 1;
	const int64_t year = local.tm_year + 1900 - (month <= 2);
	const int64_t era = (year >= 0 ? year : year - 399) / 400;
	const int64_t year_of_era = year - era * 400;
	const int64_t day_of_year =
		(153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 +
		local.tm_mday - 1;
	const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 -
				   year_of_era / 100 + day_of_year;
	const int64_t days = era * 146097 + day_of_era - 719468;
	return days * 86400 + local.tm_hour * 3600 + local.tm_min * 60 +
	       local.tm_sec - t;
}

int64_t TickStep(int64_t span)
{
	static const int64_t kSteps[] = {
		1,     5,     10,    15,    30,     60,     300,    600,
		900,   1800,  3600,  7200,  10800,  21600,  43200,  86400,
		172800, 604800, 2592000, 31536000};
	for (int64_t step : kSteps)
		if (span / step <= 8)
			return step;
	return span / 8 + 1;
}

std::string TickLabel(int64_t t, int64_t span, int64_t step)
{
	const std::string full = FormatLocalTime(t); // YYYY-MM-DD HH:MM:SS
	if (full.size() != 19)
		return full;
	if (span > 86400)
		return full.substr(5, 11);
	return step < 60 ? full.substr(11, 8) : full.substr(11, 5);
}

struct Scale {
	int64_t t0;
	int64_t span;
	double X(int64_t t) const
	{
		return kLabelWidth + static_cast<double>(t - t0) * kPlotWidth /
					     static_cast<double>(span);
	}
};

void AppendAxis(const Scale &scale, int height, std::string &out)
{
	const int64_t step = TickStep(scale.span);
	const int64_t offset = LocalOffset(scale.t0);
	const int64_t local0 = scale.t0 + offset;
	int64_t first = local0 / step * step;
	if (first < local0)
		first += step;
	out += "<g class=\"axis\">";
	for (int64_t t = first - offset, n = 0;
	     t <= scale.t0 + scale.span && n < 20; t += step, ++n) {
		const std::string x = Number(scale.X(t));
		out += "<line class=\"tick\" x1=\"" + x + "\" x2=\"" + x +
		       "\" y1=\"" + std::to_string(kAxisHeight - 8) +
		       "\" y2=\"" + std::to_string(height) + "\"/>";
		out += "<text x=\"" + x + "\" y=\"" +
		       std::to_string(kAxisHeight - 12) +
		       "\" text-anchor=\"middle\">" +
		       Html(TickLabel(t, scale.span, step)) + "</text>";
	}
	out += "</g>\n";
}

void AppendBand(const std::string &name, const std::string &colour, int y,
		const Scale &scale, const Timeline &timeline,
		std::string &out)
{
	const std::string top = std::to_string(y);
	const std::string height = std::to_string(kLaneHeight);
	out += "<g class=\"band\" data-process=\"" + Html(name) + "\"><text x=\"" +
	       std::to_string(kLabelWidth - 8) + "\" y=\"" +
	       std::to_string(y + 15) + "\" text-anchor=\"end\">" +
	       Html(LabelText(name)) + "<title>" + Html(name) +
	       "</title></text><rect class=\"track\" x=\"" +
	       std::to_string(kLabelWidth) + "\" y=\"" + top + "\" width=\"" +
	       std::to_string(kPlotWidth) + "\" height=\"" + height + "\"/>";
	if (const std::vector<Segment> *segments = timeline.Segments(name)) {
		for (const Segment &s : *segments) {
			const double x = scale.X(s.start);
			const double width = std::max(0.5, scale.X(s.end) - x);
			out += "<rect class=\"segment\" x=\"" + Number(x) +
			       "\" y=\"" + top + "\" width=\"" + Number(width) +
			       "\" height=\"" + height + "\" fill=\"" + colour +
			       "\" shape-rendering=\"crispEdges\"><title>" +
			       Html(name) + ": " + Html(FormatLocalTime(s.start)) +
			       " \u2013 " + Html(FormatLocalTime(s.end)) +
			       "</title></rect>";
		}
	}
	out += "</g>\n";
}

void AppendTimeline(const std::vector<SummaryLine> &executables,
		    const Timeline &timeline, std::string &out)
{
	const Scale scale{timeline.start(),
			  std::max<int64_t>(1, timeline.end() - timeline.start())};
	const int height = kAxisHeight +
			   static_cast<int>(executables.size()) * kLaneStep;
	const int width = kLabelWidth + kPlotWidth + 30;
	out += "<svg class=\"timeline\" width=\"" + std::to_string(width) +
	       "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
	       std::to_string(width) + " " + std::to_string(height) +
	       "\" role=\"img\" aria-label=\"Foreground executable over time\">\n";
	AppendAxis(scale, height, out);
	for (size_t i = 0; i < executables.size(); ++i)
		AppendBand(executables[i].process, BandColour(i),
			   kAxisHeight + static_cast<int>(i) * kLaneStep, scale,
			   timeline, out);
	out += "</svg>\n";
}

std::string TimeCells(int64_t seconds, int64_t total)
{
	return "<td class=\"n\">" + std::to_string(seconds) +
	       "</td><td class=\"n\">" + FormatDuration(seconds) +
	       "</td><td class=\"n\">" + FormatShare(seconds, total) +
	       "</td></tr>\n";
}

void AppendExecutableTable(const std::vector<SummaryLine> &executables,
			   const SummaryTotals &totals, std::string &out)
{
	const int64_t total = totals.total_seconds();
	out += "<h2>Time per executable</h2>\n<table class=\"executables\">"
	       "<tr><th>Executable</th><th>Seconds</th><th>Time</th>"
	       "<th>Share</th></tr>\n";
	for (size_t i = 0; i < executables.size(); ++i)
		out += "<tr><td><span class=\"swatch\" style=\"background:" +
		       BandColour(i) + "\"></span>" +
		       Html(executables[i].process) + "</td>" +
		       TimeCells(executables[i].seconds, total);
	out += "<tr><td>(idle)</td>" +
	       TimeCells(totals.idle_seconds(), total);
	out += "<tr><th>Total</th>" + TimeCells(total, total) + "</table>\n";
}

void AppendTitleTable(const SummaryTotals &totals, std::string &out)
{
	const int64_t total = totals.total_seconds();
	out += "<h2>Time per window title</h2>\n<table class=\"titles\">"
	       "<tr><th>Executable</th><th>Title</th><th>Seconds</th>"
	       "<th>Time</th><th>Share</th></tr>\n";
	for (const SummaryLine &line : totals.Titles())
		out += "<tr><td>" + Html(line.process) + "</td><td>" +
		       Html(line.title) + "</td>" +
		       TimeCells(line.seconds, total);
	out += "</table>\n";
}

std::string Heading(const SummaryInfo &info)
{
	if (info.rows == 0)
		return "No rows in the period";
	return "Activity from " + FormatLocalTime(info.earliest) + " to " +
	       FormatLocalTime(info.latest) + ", " +
	       std::to_string(info.rows) +
	       (info.rows == 1 ? " row" : " rows");
}

} // namespace

std::string RenderReport(const SummaryInfo &info, const SummaryTotals &totals,
			 const Timeline &timeline)
{
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
	if (info.rows == 0)
		return out + "</body>\n</html>\n";
	out += "<p class=\"settings\">" + std::to_string(info.runs) +
	       (info.runs == 1 ? " run" : " runs") + "; median interval " +
	       std::to_string(info.median) + " s, gap cap " +
	       std::to_string(info.cap) + " s, idle from " +
	       std::to_string(info.idle_threshold) +
	       " s. Idle time and gaps between runs are left blank.</p>\n";
	const std::vector<SummaryLine> executables = totals.Executables();
	if (!timeline.empty())
		AppendTimeline(executables, timeline, out);
	AppendExecutableTable(executables, totals, out);
	AppendTitleTable(totals, out);
	return out + "</body>\n</html>\n";
}
