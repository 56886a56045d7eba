#include "tools/records-list-writers.h"

#include <algorithm>
#include <strings.h>

#include "tools/records-text.h"
#include "tools/records-time.h"

namespace {

// The columns of today's readers keep their places: what came later
// (user_id, then seconds, file and, with --categories, category) is added
// at the end.
enum Column : size_t {
	kId, kMemberId, kCheckTm, kCheckTime, kActiveTm, kActiveTime, kIdle,
	kProcess, kTitle, kUser, kSeconds, kFile, kCategory, kColumns
};
using Fields = std::vector<std::string>;

const char *const kNames[kColumns] = {
	"id",      "member_id", "check_tm", "check_time", "active_tm",
	"active_time", "idle",  "process",  "title",      "user_id",
	"seconds", "file",      "category"};
// The table shows the user first and the title (never padded) last, and
// leaves the file's path out: its lines would be too long to read.
const std::vector<size_t> kTableOrder = {kUser, kId, kMemberId, kCheckTm,
					 kCheckTime, kActiveTm, kActiveTime,
					 kIdle, kSeconds, kProcess, kCategory,
					 kTitle};
// Numbers are aligned to the right in the table.
bool RightAligned(size_t column)
{
	return column == kId || column == kMemberId || column == kCheckTm ||
	       column == kActiveTm || column == kIdle || column == kUser ||
	       column == kSeconds;
}
const char *const kDamaged = "?";

size_t ColumnCount(bool categories)
{
	return categories ? kColumns : kCategory;
}

Fields Names(bool categories)
{
	return Fields(kNames, kNames + ColumnCount(categories));
}

// The row as texts; a value that did not decrypt is "?", and so is what is
// derived from it.
void FillFields(const ListRow &row, Fields &f)
{
	const Record &r = *row.record;
	f[kUser] = row.user_id;
	f[kId] = std::to_string(r.id);
	f[kMemberId] = std::to_string(r.member_id);
	f[kCheckTm] = std::to_string(r.check_tm);
	f[kCheckTime] = FormatLocalTime(r.check_tm);
	int64_t idle = 0;
	if (!r.active_ok) {
		f[kActiveTm] = f[kActiveTime] = f[kIdle] = kDamaged;
	} else {
		f[kActiveTm] = std::to_string(r.active_tm);
		const bool known = r.idle_seconds(idle);
		f[kActiveTime] = known ? FormatLocalTime(r.active_tm) : std::string();
		f[kIdle] = known ? std::to_string(idle) : std::string();
	}
	f[kProcess] = r.process_ok ? r.process : kDamaged;
	f[kTitle] = r.title;
	f[kSeconds] = std::to_string(row.seconds);
	f[kFile] = row.file;
	if (row.category)
		f[kCategory] = *row.category;
}

class TableWriter : public ListWriter {
public:
	explicit TableWriter(bool categories) : names_(Names(categories))
	{
		for (size_t column : kTableOrder)
			if (column < names_.size())
				order_.push_back(column);
		for (size_t i = 0; i < names_.size(); ++i)
			widths_.push_back(names_[i].size());
		fields_.resize(names_.size());
	}
	bool NeedsMeasure() const override { return true; }
	void Measure(const ListRow &row) override
	{
		FillFields(row, fields_);
		for (size_t i : order_) {
			if (i == kTitle) // the last column, never padded
				continue;
			widths_[i] = std::max(widths_[i],
					      DisplayWidth(PrintableText(fields_[i])));
		}
	}
	void MeasureSeconds(int64_t most) override
	{
		widths_[kSeconds] =
			std::max(widths_[kSeconds], std::to_string(most).size());
	}
	void Header(std::string &out) override { Line(names_, out); }
	void Row(const ListRow &row, std::string &out) override
	{
		FillFields(row, fields_);
		Line(fields_, out);
	}

private:
	void Line(const Fields &fields, std::string &out) const
	{
		for (size_t i : order_) {
			const std::string text = PrintableText(fields[i]);
			const size_t pad =
				i == kTitle ? 0 : widths_[i] - DisplayWidth(text);
			if (RightAligned(i))
				out.append(pad, ' ');
			out += text;
			if (!RightAligned(i))
				out.append(pad, ' ');
			out += i == kTitle ? "\n" : "  ";
		}
	}

	Fields names_;
	std::vector<size_t> order_;
	std::vector<size_t> widths_;
	Fields fields_;
};

class CsvWriter : public ListWriter {
public:
	explicit CsvWriter(bool categories)
		: names_(Names(categories)), fields_(names_.size())
	{
	}
	void Header(std::string &out) override { Line(names_, out); }
	void Row(const ListRow &row, std::string &out) override
	{
		FillFields(row, fields_);
		Line(fields_, out);
	}

private:
	static void Line(const Fields &fields, std::string &out)
	{
		for (size_t i = 0; i < fields.size(); ++i) {
			AppendCsvField(out, fields[i]);
			out += i + 1 == fields.size() ? "\r\n" : ",";
		}
	}

	Fields names_;
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
	void Row(const ListRow &row, std::string &out) override
	{
		const Record &r = *row.record;
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
		out += row.user_id.empty() ? std::string("null") : row.user_id;
		out += ",\"seconds\":" + std::to_string(row.seconds) + ",\"file\":";
		// Escaped once per file, not for each of its rows.
		if (row.file != file_ || file_json_.empty()) {
			file_ = row.file;
			file_json_.clear();
			AppendJsonString(file_json_, file_);
		}
		out += file_json_;
		if (row.category) {
			out += ",\"category\":";
			AppendJsonString(out, *row.category);
		}
		out += "}\n";
	}

private:
	std::string file_;
	std::string file_json_;
};

} // namespace

std::unique_ptr<ListWriter> MakeListWriter(ListFormat format, bool categories)
{
	switch (format) {
	case ListFormat::Csv:
		return std::make_unique<CsvWriter>(categories);
	case ListFormat::JsonLines:
		return std::make_unique<JsonLinesWriter>();
	case ListFormat::Table:
		break;
	}
	return std::make_unique<TableWriter>(categories);
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
