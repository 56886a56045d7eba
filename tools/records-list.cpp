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

// The first pass over every file: a file that cannot be read whole is left
// out before any of its rows is written, as summary leaves it out. The pass
// also measures the intervals that give each row its seconds and, for the
// aligned table, the columns' widths. The second pass shows the same rows,
// however many the monitor adds between.
std::vector<FileCheck> CheckFiles(Context &c, ListWriter &writer)
{
	std::vector<FileCheck> checks(c.sources.size());
	for (size_t i = 0; i < c.sources.size(); ++i) {
		const RecordSource &source = c.sources[i];
		IntervalStats stats;
		Reading reading;
		ListRow row;
		row.user_id = source.user_id;
		FileCheck &check = checks[i];
		check.whole =
			writer.NeedsMeasure()
				? ReadSource(c, source, -1,
					     [&](const Record &record) {
						     stats.Add(record.check_tm);
						     row.record = &record;
						     row.category = CategoryOf(c, record);
						     if (MatchesProcess(record, c.options.processes))
							     writer.Measure(row);
					     },
					     reading)
				: ReadRawSource(c, source,
						[&](const RawRecord &raw) {
							stats.Add(raw.check_tm);
						},
						reading);
		if (!check.whole) {
			LeaveOut(c, reading.error);
			continue;
		}
		check.rows = reading.rows;
		check.median = stats.Median();
		check.cap = c.options.gap > 0 ? c.options.gap : 2 * check.median;
		// No row counts more than the cap.
		writer.MeasureSeconds(check.cap);
	}
	return checks;
}

} // namespace

int RunList(Context &c)
{
	std::unique_ptr<ListWriter> writer =
		MakeListWriter(c.options.format, !c.categories.empty());
	const std::vector<FileCheck> checks = CheckFiles(c, *writer);
	Output output(c.out);
	if (c.left_out.size() < c.sources.size())
		writer->Header(output.text());
	for (size_t i = 0; i < c.sources.size(); ++i) {
		if (!checks[i].whole)
			continue;
		ListRow row;
		row.user_id = c.sources[i].user_id;
		row.file = c.sources[i].path;
		RunCounter counter(
			checks[i].median, checks[i].cap, c.options.idle,
			[&](const Record &record, int64_t seconds, bool) {
				if (!MatchesProcess(record, c.options.processes))
					return;
				row.record = &record;
				row.seconds = seconds;
				row.category = CategoryOf(c, record);
				writer->Row(row, output.text());
				output.FlushIfFull();
			});
		Reading reading;
		const bool read = ReadSource(c, c.sources[i], checks[i].rows,
					     [&](const Record &record) {
						     counter.Add(record);
					     },
					     reading);
		counter.Finish();
		c.rows += reading.rows;
		c.damaged_rows += reading.damaged_rows;
		// Read whole a moment ago, so only a file changed or failing
		// since gets here.
		if (!read)
			LeaveOut(c, reading.error + " (its rows above are incomplete)");
	}
	return Finish(c, output);
}
