#include "tools/records-report.h"

#include <QSaveFile>

#include "platform/platform.h"
#include "tools/records-names.h"
#include "tools/records-report-page.h"

namespace {

// Writes the page beside its final name and renames it into place, so that
// a failed write leaves no half page. The page is readable by its owner
// only: it holds the user's window titles.
bool WritePage(const std::string &path, const std::string &page,
	       std::string &error)
{
	QSaveFile file(records_names::QtName(path));
	const bool written =
		file.open(QIODevice::WriteOnly) &&
		file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
		file.write(page.data(), static_cast<qint64>(page.size())) ==
			static_cast<qint64>(page.size()) &&
		file.commit();
	if (!written)
		error = "cannot write " + path + ": " + file.errorString().toStdString();
	return written;
}

bool SeveralUsers(const std::vector<RecordSource> &sources)
{
	for (const RecordSource &source : sources)
		if (source.user_id != sources.front().user_id)
			return true;
	return false;
}

} // namespace

int RunReport(Context &c)
{
	const std::string &html = c.options.html;
	for (const RecordSource &source : c.sources)
		if (platform::SameFile(html.c_str(), source.path.c_str()))
			return Fail(c.err, "refusing to write the report over "
					   "the record file " + source.path,
				    kExitUsage);
	TallySettings settings;
	settings.by_user = SeveralUsers(c.sources);
	settings.by_day = true;
	settings.bands = true;
	Tally all(settings);
	CountAll(c, all);
	std::string error;
	if (c.left_out.size() == c.sources.size())
		return kExitBadInput;
	ReportNotes notes;
	notes.categories = !c.categories.empty();
	notes.files = c.sources.size();
	notes.left_out = c.left_out;
	notes.empty_folders = c.empty_folders;
	if (!WritePage(html, RenderReport(all, notes), error))
		return Fail(c.err, error, kExitBadInput);
	Output output(c.out);
	output.text() = "Report written to " + html + " (" +
			std::to_string(all.info.rows) + " rows)\n";
	return Finish(c, output);
}

