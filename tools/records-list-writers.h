#pragma once
// The list command's three formats: aligned table, CSV and JSON Lines.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/records-decode.h"
#include "tools/records-options.h"

// One row as listed: the record and what the reader adds to it.
struct ListRow {
	const Record *record = nullptr;
	std::string user_id; // "" when the file's name holds none
	std::string file;    // the record file's path as found
	int64_t seconds = 0; // what summary credits the row with
	const std::string *category = nullptr; // null without --categories
};

// Writes one row at a time into a text that the caller flushes.
class ListWriter {
public:
	virtual ~ListWriter() = default;
	// True when the writer must see every row (Measure) before the header,
	// as the aligned table does to size its columns.
	virtual bool NeedsMeasure() const { return false; }
	virtual void Measure(const ListRow &) {}
	// The most seconds that a row of the file measured last can count.
	virtual void MeasureSeconds(int64_t) {}
	virtual void Header(std::string &out) = 0;
	virtual void Row(const ListRow &row, std::string &out) = 0;
};

// `categories`: whether the rows carry a category column.
std::unique_ptr<ListWriter> MakeListWriter(ListFormat format, bool categories);

// True when `record` belongs to one of `processes` (letter case ignored), or
// when `processes` is empty. A damaged name matches nothing.
bool MatchesProcess(const Record &record,
		    const std::vector<std::string> &processes);
