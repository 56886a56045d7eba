#pragma once
// Records every libobs log entry (level and formatted text) for the life of
// the object, instead of printing it, and puts the previous handler back.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include <util/base.h>

namespace testing_support {

struct LogEntry {
	int level;
	std::string text;
};

class LogCapture {
public:
	LogCapture()
	{
		base_get_log_handler(&saved_handler_, &saved_param_);
		base_set_log_handler(Record, this);
	}
	~LogCapture() { base_set_log_handler(saved_handler_, saved_param_); }
	LogCapture(const LogCapture &) = delete;
	LogCapture &operator=(const LogCapture &) = delete;

	const std::vector<LogEntry> &entries() const { return entries_; }
	void clear() { entries_.clear(); }

	// The texts of the entries at `level` that start with `prefix`.
	std::vector<std::string> Texts(int level, const std::string &prefix = "") const
	{
		std::vector<std::string> texts;
		for (const auto &entry : entries_)
			if (entry.level == level &&
			    entry.text.compare(0, prefix.size(), prefix) == 0)
				texts.push_back(entry.text);
		return texts;
	}

private:
	static void Record(int level, const char *format, va_list args,
			   void *param)
	{
		va_list copy;
		va_copy(copy, args);
		const int length = std::vsnprintf(nullptr, 0, format, copy);
		va_end(copy);
		std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
		std::vsnprintf(&text[0], text.size() + 1, format, args);
		static_cast<LogCapture *>(param)->entries_.push_back(
			{level, std::move(text)});
	}

	log_handler_t saved_handler_ = nullptr;
	void *saved_param_ = nullptr;
	std::vector<LogEntry> entries_;
};

} // namespace testing_support
