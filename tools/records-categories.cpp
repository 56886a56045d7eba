#include "tools/records-categories.h"

#include "tools/records-sources.h"

const char *const kUncategorized = "Uncategorized";

namespace {

constexpr size_t kCategoriesFileLimit = 1 << 20;
// Bounds the cache on files with very many distinct titles.
constexpr size_t kCacheLimit = 50000;

} // namespace

bool Categories::Load(const std::string &path, std::string &error)
{
	std::string text;
	if (!ReadSmallFile("categories file", path, kCategoriesFileLimit, text,
			   error))
		return false;
	size_t start = 0;
	for (int number = 1; start < text.size(); ++number) {
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		std::string line = text.substr(start, end - start);
		start = end + 1;
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		if (line.empty() || line[0] == '#')
			continue;
		const std::string where = path + " line " + std::to_string(number);
		const size_t tab = line.find('\t');
		if (tab == 0 || tab == std::string::npos || tab + 1 == line.size()) {
			error = where + ": expected NAME<TAB>REGULAR EXPRESSION";
			return false;
		}
		Rule rule{line.substr(0, tab),
			  QRegularExpression(QString::fromStdString(line.substr(tab + 1)))};
		if (!rule.pattern.isValid()) {
			error = where + ": bad regular expression: " +
				rule.pattern.errorString().toStdString() +
				" at offset " +
				std::to_string(rule.pattern.patternErrorOffset());
			return false;
		}
		rule.pattern.optimize();
		rules_.push_back(std::move(rule));
	}
	return true;
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
