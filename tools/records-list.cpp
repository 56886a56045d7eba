#include "tools/records-list.h"

#include <memory>

#include "tools/records-list-writers.h"

namespace {

// The row's kind of work; null without --categories.
const std::string *CategoryOf(Context &c, const Record &record)
{
	return c.categories.empty()
		       ? nullptr
		       : &c.categories.Of(ProcessLabel(record), record.title);
}

// What the first pass over a file found.
struct FileCheck {
	bool whole = false; // every row of the period could be read
	int64_t rows = 0;
	int64_t median = 0;
	int64_t cap = 0;
};

// The first pass over one file: its intervals, which give each row its
// seconds, and for the aligned table the widths of its rows. Reads every
// column, decrypted only where the table needs the texts.
FileCheck CheckFile(Context &c, const RecordSource &source, ListWriter &writer)
{
	IntervalStats stats;
	Reading reading;
	FileCheck check;
	if (writer.NeedsMeasure()) {
		ListRow row;
		row.user_id = source.user_id;
		check.whole = ReadSource(
			c, source, -1,
			[&](const Record &record) {
				stats.Add(record.check_tm);
				row.record = &record;
				row.category = CategoryOf(c, record);
				if (MatchesProcess(record, c.options.processes))
					writer.Measure(row);
			},
			reading);
	} else {
		check.whole = ReadRawSource(
			c, source,
			[&](const RawRecord &raw) { stats.Add(raw.check_tm); },
			reading);
	}
	if (!check.whole) {
		LeaveOut(c, reading.error);
		return check;
	}
	check.rows = reading.rows;
	check.median = stats.Median();
	check.cap = c.options.gap > 0 ? c.options.gap : 2 * check.median;
	// No row counts more than the cap.
	writer.MeasureSeconds(check.cap);
	return check;
}

// The second pass: the same rows, however many the monitor has added
// since, each with the seconds that summary counts for it.
void WriteFile(Context &c, const RecordSource &source, const FileCheck &check,
	       ListWriter &writer, Output &output)
{
	ListRow row;
	row.user_id = source.user_id;
	row.file = source.path;
	RunCounter counter(check.median, check.cap, c.options.idle,
			   [&](const Record &record, int64_t seconds, bool) {
				   if (!MatchesProcess(record, c.options.processes))
					   return;
				   row.record = &record;
				   row.seconds = seconds;
				   row.category = CategoryOf(c, record);
				   writer.Row(row, output.text());
				   output.FlushIfFull();
			   });
	Reading reading;
	const bool read = ReadSource(
		c, source, check.rows,
		[&](const Record &record) { counter.Add(record); }, reading);
	counter.Finish();
	c.rows += reading.rows;
	c.damaged_rows += reading.damaged_rows;
	// Read whole a moment ago: only a file that changed or began to fail
	// since gets here, too late to take its rows back.
	if (!read)
		LeaveOut(c, reading.error + " (its rows above are incomplete)");
}

} // namespace

// Every file is checked before any row is written: a file that cannot be
// read whole is left out with none of its rows, as summary leaves it out,
// and the aligned table knows its widths.
int RunList(Context &c)
{
	std::unique_ptr<ListWriter> writer =
		MakeListWriter(c.options.format, !c.categories.empty());
	std::vector<FileCheck> checks;
	for (const RecordSource &source : c.sources)
		checks.push_back(CheckFile(c, source, *writer));
	Output output(c.out);
	if (c.left_out.size() < c.sources.size())
		writer->Header(output.text());
	for (size_t i = 0; i < c.sources.size(); ++i)
		if (checks[i].whole)
			WriteFile(c, c.sources[i], checks[i], *writer, output);
	return Finish(c, output);
}
