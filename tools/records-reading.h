#pragma once
// What the three commands share: the context of a run, the output buffer,
// the lines on standard error, and reading or counting the record files.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/records-categories.h"
#include "tools/records-decode.h"
#include "tools/records-options.h"
#include "tools/records-sources.h"
#include "tools/records-tally.h"

// Collects output and writes it in large pieces.
class Output {
public:
	explicit Output(FILE *file) : file_(file) {}
	std::string &text() { return text_; }
	void FlushIfFull();
	// False when anything could not be written.
	bool Finish();

private:
	void Flush();

	FILE *file_;
	std::string text_;
	bool failed_ = false;
};

// One line "vorlix-records: MESSAGE" on `err`.
void Tell(FILE *err, const std::string &message);
// "vorlix-records: warning: MESSAGE": the command still did its work.
void Warn(FILE *err, const std::string &message);
// Tells `message` and gives `status` back, for `return Fail(...)`.
int Fail(FILE *err, const std::string &message, int status);

struct Context {
	Context(const RecordsOptions &o, FILE *output, FILE *errors)
		: options(o), out(output), err(errors)
	{
	}
	const RecordsOptions &options;
	FILE *out;
	FILE *err;
	RecordKeys keys;
	Categories categories;
	std::vector<RecordSource> sources;
	int64_t damaged_rows = 0;
	int64_t rows = 0;
	// Why each file named on standard error was left out.
	std::vector<std::string> left_out;
	// Folders given that hold no record file.
	std::vector<std::string> empty_folders;
};

// Names a file that is left out, with the reason, and counts it.
void LeaveOut(Context &c, const std::string &error);

// What reading one file gave.
struct Reading {
	int64_t rows = 0;
	int64_t damaged_rows = 0;
	std::string error;
};

// Reads the rows of the period of one file, decrypted, up to `limit` rows
// (all when < 0). False (with reading.error) when the file is left out.
bool ReadSource(const Context &c, const RecordSource &source, int64_t limit,
		const std::function<void(const Record &)> &use,
		Reading &reading);

// Reads the rows of the period of one file as stored, without decrypting
// them: false (with reading.error) when the file is left out.
bool ReadRawSource(const Context &c, const RecordSource &source,
		   const std::function<void(const RawRecord &)> &use,
		   Reading &reading);

// Counts every file into `all`, on every core (files are independent);
// files left out are named in the order given.
void CountAll(Context &c, Tally &all);

// Writes out what is left, warns of damaged rows and left-out files, and
// gives the exit status.
int Finish(Context &c, Output &output);
