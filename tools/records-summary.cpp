#include "tools/records-summary.h"

#include "tools/records-summary-data.h"
#include "tools/records-summary-text.h"

int RunSummary(Context &c)
{
	TallySettings settings;
	settings.by_user = c.options.by_user;
	settings.by_day = c.options.by_day;
	Tally all(settings);
	CountAll(c, all);
	Output output(c.out);
	if (c.left_out.size() < c.sources.size())
		output.text() = c.options.format == ListFormat::Table
					? FormatSummaryText(all)
					: FormatSummaryData(all, c.options.format);
	return Finish(c, output);
}
