#include "tools/records-list.h"

#include <memory>

#include "tools/records-list-writers.h"

namespace {

// The aligned table sizes its columns in a first pass over every file; the
// second pass shows the same rows, however many the monitor adds between.
std::vector<int64_t> MeasureList(Context &c, ListWriter &writer)
{
	std::vector<int64_t> counts(c.sources.size(), -1);
	for (size_t i = 0; i < c.sources.size(); ++i) {
		Reading reading;
		writer.SetUser(c.sources[i].user_id);
		if (ReadSource(c, c.sources[i], -1,
			       [&](const Record &record) {
				       if (MatchesProcess(record, c.options.processes))
					       writer.Measure(record);
			       },
			       reading))
			counts[i] = reading.rows;
		else
			LeaveOut(c, reading.error);
	}
	return counts;
}

} // namespace

int RunList(Context &c)
{
	std::unique_ptr<ListWriter> writer = MakeListWriter(c.options.format);
	const bool measure = writer->NeedsMeasure();
	const std::vector<int64_t> counts =
		measure ? MeasureList(c, *writer) : std::vector<int64_t>();
	Output output(c.out);
	bool header = false;
	for (size_t i = 0; i < c.sources.size(); ++i) {
		if (measure && counts[i] < 0)
			continue;
		Reading reading;
		writer->SetUser(c.sources[i].user_id);
		const bool read = ReadSource(
			c, c.sources[i], measure ? counts[i] : -1,
			[&](const Record &record) {
				if (!header)
					writer->Header(output.text());
				header = true;
				if (!MatchesProcess(record, c.options.processes))
					return;
				writer->Row(record, output.text());
				output.FlushIfFull();
			},
			reading);
		if (read && !header)
			writer->Header(output.text());
		header = header || read;
		c.rows += reading.rows;
		c.damaged_rows += reading.damaged_rows;
		if (!read)
			LeaveOut(c, reading.error);
	}
	return Finish(c, output);
}

