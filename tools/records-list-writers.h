#pragma once
// The list command's three formats: aligned table, CSV and JSON Lines.
#include <memory>
#include <string>
#include <vector>

#include "tools/records-decode.h"
#include "tools/records-options.h"

// Writes one row at a time into a text that the caller flushes.
class ListWriter {
public:
	virtual ~ListWriter() = default;
	// True when the writer must see every row (Measure) before the header,
	// as the aligned table does to size its columns.
	virtual bool NeedsMeasure() const { return false; }
	virtual void Measure(const Record &) {}
	// The user id of the rows that follow ("" when not known).
	void SetUser(const std::string &user_id) { user_id_ = user_id; }
	virtual void Header(std::string &out) = 0;
	virtual void Row(const Record &record, std::string &out) = 0;

protected:
	std::string user_id_;
};

std::unique_ptr<ListWriter> MakeListWriter(ListFormat format);

// True when `record` belongs to one of `processes` (letter case ignored), or
// when `processes` is empty. A damaged name matches nothing.
bool MatchesProcess(const Record &record,
		    const std::vector<std::string> &processes);
