#include "tools/records-categories.h"

#include "tools/records-sources.h"
#include "tools/records-text.h"

const char *const kUncategorized = "Uncategorized";

namespace {

constexpr size_t kCategoriesFileLimit = 1 << 20;
// Bounds the cache on files with very many distinct titles.
constexpr size_t kCacheLimit = 50000;

} // namespace

bool Categories::Load(const std::string &path, std::string &error)
{
	const bool read = ForEachSettingLine(
		"categories file", path, kCategoriesFileLimit,
		[&](const std::string &line, const std::string &where) {
			// Titles are UTF-8: a name or expression in another
			// encoding (GBK, as a Chinese Windows editor saves)
			// would never match, and every row would go
			// uncategorized without a word.
			std::string valid;
			AppendValidUtf8(valid, line);
			if (valid != line) {
				error = where + ": not UTF-8 text; save the file as UTF-8";
				return false;
			}
			const size_t tab = line.find('\t');
			if (tab == 0 || tab == std::string::npos ||
			    tab + 1 == line.size()) {
				error = where + ": expected NAME<TAB>REGULAR EXPRESSION";
				return false;
			}
			Rule rule{line.substr(0, tab),
				  QRegularExpression(QString::fromStdString(
					  line.substr(tab + 1)))};
			if (!rule.pattern.isValid()) {
				error = where + ": bad regular expression: " +
					rule.pattern.errorString().toStdString() +
					" at offset " +
					std::to_string(rule.pattern.patternErrorOffset());
				return false;
			}
			rule.pattern.optimize();
			rules_.push_back(std::move(rule));
			return true;
		},
		error);
	// An empty file is more likely a mistake than a wish for no
	// categories, which is had by leaving --categories out.
	if (read && rules_.empty())
		error = "categories file " + path +
			" holds no category line (NAME<TAB>REGULAR EXPRESSION)";
	return error.empty();
}

const std::string &Categories::Of(const std::string &process,
				  const std::string &title)
{
	subject_.assign("exe:").append(process).append(" title:").append(title);
	auto found = cache_.find(subject_);
	if (found == cache_.end()) {
		if (cache_.size() >= kCacheLimit)
			cache_.clear();
		const QString subject = QString::fromStdString(subject_);
		size_t index = 0;
		while (index < rules_.size() &&
		       !rules_[index].pattern.match(subject).hasMatch())
			++index;
		found = cache_.emplace(subject_, index).first;
	}
	return found->second < rules_.size() ? rules_[found->second].name
					      : uncategorized_;
}
