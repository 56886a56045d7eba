#include "tools/records-command.h"

#include "store/record-path.h"
#include "tools/records-list.h"
#include "tools/records-options.h"
#include "tools/records-reading.h"
#include "tools/records-report.h"
#include "tools/records-sources.h"
#include "tools/records-summary.h"

namespace {

bool FindSources(const RecordsOptions &options,
		 std::vector<RecordSource> &sources,
		 std::vector<std::string> &problems)
{
	if (!options.files.empty()) {
		sources = FindRecordSources(options.files, problems);
		return true;
	}
	const std::string path = MonitorDbPath(options.record_dir, options.user_id);
	if (path.empty()) {
		problems.push_back("no application-data folder: neither "
				   "XDG_CONFIG_HOME nor HOME is set");
		return false;
	}
	sources.push_back({path, std::to_string(options.user_id)});
	return true;
}

int RunCommand(Context &c)
{
	switch (c.options.command) {
	case RecordsCommand::List:
		return RunList(c);
	case RecordsCommand::Summary:
		return RunSummary(c);
	case RecordsCommand::Report:
		return RunReport(c);
	case RecordsCommand::None:
		break;
	}
	return kExitUsage;
}

} // namespace

int RunRecords(const std::vector<std::string> &args, FILE *out, FILE *err)
{
	RecordsOptions options;
	std::string error;
	if (!ParseRecordsOptions(args, options, error))
		return Fail(err, error + " (see --help)", kExitUsage);
	if (options.help) {
		std::fputs(RecordsUsage(), out);
		return kExitOk;
	}
	Context c{options, out, err};
	if (!c.keys.Load(options, error) ||
	    (!options.categories_file.empty() &&
	     !c.categories.Load(options.categories_file, error)))
		return Fail(err, error, kExitBadInput);
	std::vector<std::string> problems;
	const bool found = FindSources(options, c.sources, problems);
	for (const std::string &problem : problems)
		Tell(err, problem);
	c.empty_folders = problems;
	if (!found || c.sources.empty())
		return kExitBadInput;
	return RunCommand(c);
}
