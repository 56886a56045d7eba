#include "tools/records-list-writers.h"

#include <array>
#include <strings.h>

#include "tools/records-text.h"
#include "tools/records-time.h"

namespace {

// The user id comes last, so that the columns before it keep their places
// for whoever reads them by position.
constexpr size_t kColumns = 10;
using Fields = std::array<std::string, kColumns>;

const Fields kNames = {"id",        "member_id",   "check_tm",
		       "check_time", "active_tm",  "active_time",
		       "idle",       "process",    "title", "user_id"};
constexpr size_t kProcess = 7;
constexpr size_t kTitle = 8;
constexpr size_t kUser = 9;
// The table shows the columns in this order: the user first, the title
// (never padded) last.
constexpr size_t kTableOrder[kColumns] = {kUser, 0, 1, 2, 3, 4, 5, 6, 7, kTitle};
// Numbers are aligned to the right in the table.
constexpr bool kRightAligned[kColumns] = {true,  true,  true,  false, true,
					  false, true,  false, false, true};
const char *const kDamaged = "?";

// The row as texts; a value that did not decrypt is "?", and so is what is
// derived from it.
void FillFields(const Record &r, const std::string &user, Fields &f)
{
	f[kUser] = user;
	f[0] = std::to_string(r.id);
	f[1] = std::to_string(r.member_id);
	f[2] = std::to_string(r.check_tm);
	f[3] = FormatLocalTime(r.check_tm);
	int64_t idle = 0;
	if (!r.active_ok) {
		f[4] = f[5] = f[6] = kDamaged;
	} else {
		f[4] = std::to_string(r.active_tm);
		const bool known = r.idle_seconds(idle);
		f[5] = known ? FormatLocalTime(r.active_tm) : std::string();
		f[6] = known ? std::to_string(idle) : std::string();
	}
	f[kProcess] = r.process_ok ? r.process : kDamaged;
	f[kTitle] = r.title;
}

class TableWriter : public ListWriter {
public:
	TableWriter()
	{
		for (size_t i = 0; i < kColumns; ++i)
			widths_[i] = kNames[i].size();
	}
	bool NeedsMeasure() const override { return true; }
	void Measure(const Record &record) override
	{
		FillFields(record, user_id_, fields_);
		for (size_t i = 0; i < kColumns; ++i) {
			if (i == kTitle) // the last column, never padded
				continue;
			const size_t width =
				DisplayWidth(PrintableText(fields_[i]));
			if (width > widths_[i])
				widths_[i] = width;
		}
	}
	void Header(std::string &out) override { Line(kNames, out); }
	void Row(const Record &record, std::string &out) override
	{
		FillFields(record, user_id_, fields_);
		Line(fields_, out);
	}

private:
	void Line(const Fields &fields, std::string &out) const
	{
		for (size_t i : kTableOrder) {
			const std::string text = PrintableText(fields[i]);
			const size_t pad =
				i == kTitle ? 0 : widths_[i] - DisplayWidth(text);
			if (kRightAligned[i])
				out.append(pad, ' ');
			out += text;
			if (!kRightAligned[i])
				out.append(pad, ' ');
			out += i == kTitle ? "\n" : "  ";
		}
	}

	size_t widths_[kColumns];
	Fields fields_;
};

class CsvWriter : public ListWriter {
public:
	void Header(std::string &out) override { Line(kNames, out); }
	void Row(const Record &record, std::string &out) override
	{
		FillFields(record, user_id_, fields_);
		Line(fields_, out);
	}

private:
	static void Line(const Fields &fields, std::string &out)
	{
		for (size_t i = 0; i < kColumns; ++i) {
			AppendCsvField(out, fields[i]);
			out += i + 1 == kColumns ? "\r\n" : ",";
		}
	}

	Fields fields_;
};

void AppendJsonNumberOrNull(std::string &out, bool known, int64_t value)
{
	out += known ? std::to_string(value) : std::string("null");
}

void AppendJsonTextOrNull(std::string &out, const std::string &text)
{
	if (text.empty())
		out += "null";
	else
		AppendJsonString(out, text);
}

class JsonLinesWriter : public ListWriter {
public:
	void Header(std::string &) override {}
	void Row(const Record &r, std::string &out) override
	{
		int64_t idle = 0;
		const bool known = r.idle_seconds(idle);
		out += "{\"id\":" + std::to_string(r.id) +
		       ",\"member_id\":" + std::to_string(r.member_id) +
		       ",\"check_tm\":" + std::to_string(r.check_tm) +
		       ",\"check_time\":";
		AppendJsonTextOrNull(out, FormatLocalTime(r.check_tm));
		out += ",\"active_tm\":";
		AppendJsonNumberOrNull(out, r.active_ok, r.active_tm);
		out += ",\"active_time\":";
		AppendJsonTextOrNull(out, known ? FormatLocalTime(r.active_tm)
						: std::string());
		out += ",\"idle\":";
		AppendJsonNumberOrNull(out, known, idle);
		out += ",\"process\":";
		if (r.process_ok)
			AppendJsonString(out, r.process);
		else
			out += "null";
		out += ",\"title\":";
		AppendJsonString(out, r.title);
		// The user id is a number, as in the file's name.
		out += ",\"user_id\":";
		out += user_id_.empty() ? std::string("null") : user_id_;
		out += "}\n";
	}
};

} // namespace

std::unique_ptr<ListWriter> MakeListWriter(ListFormat format)
{
	switch (format) {
	case ListFormat::Csv:
		return std::make_unique<CsvWriter>();
	case ListFormat::JsonLines:
		return std::make_unique<JsonLinesWriter>();
	case ListFormat::Table:
		break;
	}
	return std::make_unique<TableWriter>();
}

bool MatchesProcess(const Record &record,
		    const std::vector<std::string> &processes)
{
	if (processes.empty())
		return true;
	if (!record.process_ok)
		return false;
	for (const std::string &name : processes)
		if (strcasecmp(name.c_str(), record.process.c_str()) == 0)
			return true;
	return false;
}
