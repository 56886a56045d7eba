#pragma once
// Kinds of work: each row's executable and title matched against a list of
// named regular expressions.
#include <string>
#include <unordered_map>
#include <vector>

#include <QRegularExpression>

extern const char *const kUncategorized; // "Uncategorized"

class Categories {
public:
	// Reads lines "NAME<TAB>REGULAR EXPRESSION" of UTF-8 text (blank lines
	// and lines starting with "#" skipped, a byte-order mark too). False
	// with one line naming the file and line in `error`, and when the file
	// holds no such line.
	bool Load(const std::string &path, std::string &error);
	bool empty() const { return rules_.empty(); }

	// The name of the first rule that matches "exe:PROCESS title:TITLE"
	// anywhere, else kUncategorized. Not for use by two threads at once:
	// each thread takes a copy.
	const std::string &Of(const std::string &process,
			      const std::string &title);

private:
	struct Rule {
		std::string name;
		QRegularExpression pattern;
	};
	std::vector<Rule> rules_;
	std::string uncategorized_ = kUncategorized;
	// Most rows repeat an executable and title seen before.
	std::unordered_map<std::string, size_t> cache_;
	std::string subject_;
};
