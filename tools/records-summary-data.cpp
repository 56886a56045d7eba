#include "tools/records-summary-data.h"

#include <cstdint>

#include "tools/records-text.h"

namespace {

struct DataLine {
	const char *group;
	const std::string *user; // null outside groups by user
	const std::string *day;  // null outside groups by day
	const char *kind;
	const std::string *name;  // null for the times of the whole group
	const std::string *title; // null but for titles
	int64_t seconds;
};

void AppendCsv(const DataLine &line, std::string &out)
{
	static const std::string none;
	AppendCsvField(out, line.group);
	for (const std::string *text : {line.user, line.day}) {
		out += ',';
		AppendCsvField(out, text ? *text : none);
	}
	out += ',';
	out += line.kind;
	for (const std::string *text : {line.name, line.title}) {
		out += ',';
		AppendCsvField(out, text ? *text : none);
	}
	out += ',' + std::to_string(line.seconds) + "\r\n";
}

void AppendJsonTextOrNull(const char *key, const std::string *text,
			  std::string &out)
{
	out += ",\"";
	out += key;
	out += "\":";
	if (text)
		AppendJsonString(out, *text);
	else
		out += "null";
}

void AppendJson(const DataLine &line, std::string &out)
{
	out += "{\"group\":\"";
	out += line.group;
	// The user id is a number, as in the list.
	out += "\",\"user_id\":";
	out += line.user && !line.user->empty() ? *line.user : "null";
	AppendJsonTextOrNull("day", line.day, out);
	out += ",\"kind\":\"";
	out += line.kind;
	out += '"';
	AppendJsonTextOrNull("name", line.name, out);
	AppendJsonTextOrNull("title", line.title, out);
	out += ",\"seconds\":" + std::to_string(line.seconds) + "}\n";
}

class DataWriter {
public:
	DataWriter(ListFormat format, std::string &out)
		: csv_(format == ListFormat::Csv), out_(out)
	{
		if (csv_)
			out_ += "group,user_id,day,kind,name,title,seconds\r\n";
	}
	// The lines of one group: `user` and `day` null where it is not one
	// of users or of days.
	void Group(const char *group, const std::string *user,
		   const std::string *day, const SummaryTotals &totals)
	{
		DataLine line{group, user, day, "", nullptr, nullptr, 0};
		Add(line, "at_work", totals.active_seconds());
		Add(line, "idle", totals.idle_seconds());
		Add(line, "total", totals.total_seconds());
		for (const NamedTime &time : totals.Executables()) {
			line.name = &time.name;
			Add(line, "executable", time.seconds);
		}
		for (const NamedTime &time : totals.Categories()) {
			line.name = &time.name;
			Add(line, "category", time.seconds);
		}
	}
	void Titles(const SummaryTotals &totals)
	{
		DataLine line{"all", nullptr, nullptr, "", nullptr, nullptr, 0};
		for (const TitleTime &time : totals.Titles()) {
			line.name = &time.process;
			line.title = &time.title;
			Add(line, "title", time.seconds);
		}
	}

private:
	void Add(DataLine &line, const char *kind, int64_t seconds)
	{
		line.kind = kind;
		line.seconds = seconds;
		if (csv_)
			AppendCsv(line, out_);
		else
			AppendJson(line, out_);
	}

	bool csv_;
	std::string &out_;
};

} // namespace

std::string FormatSummaryData(const Tally &tally, ListFormat format)
{
	std::string out;
	DataWriter writer(format, out);
	if (tally.info.rows == 0)
		return out;
	writer.Group("all", nullptr, nullptr, tally.totals);
	writer.Titles(tally.totals);
	const TallySettings &by = tally.settings();
	const char *group = by.by_user && by.by_day ? "user,day"
			    : by.by_user	     ? "user"
						     : "day";
	for (const auto &entry : tally.groups)
		writer.Group(group, by.by_user ? &entry.first.user : nullptr,
			     by.by_day ? &entry.first.day : nullptr,
			     entry.second.totals);
	return out;
}
