#include "tools/records-tally.h"

#include "tools/records-summary-text.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kBase = 1714550400;
constexpr int64_t kNoInput = -1;

Record MakeRecord(int64_t offset, const char *process, const char *title,
		  int64_t idle)
{
	Record r;
	r.check_tm = kBase + offset;
	r.active_tm = idle == kNoInput ? 0 : r.check_tm - idle;
	r.active_ok = r.process_ok = true;
	r.process = process;
	r.title = title;
	return r;
}

// Rows every 10 s with a 140 s gap after the seventh; two rows idle for
// at least 180 s; one row without a known last input.
std::vector<Record> HandMadeRows()
{
	return {MakeRecord(0, "a.exe", "A1", 5),
		MakeRecord(10, "a.exe", "A1", 5),
		MakeRecord(20, "a.exe", "A2", 3),
		MakeRecord(30, "b.exe", "B", 0),
		MakeRecord(40, "b.exe", "B", 200),
		MakeRecord(50, "b.exe", "B", 210),
		MakeRecord(60, "a.exe", "A1", 1),
		MakeRecord(200, "b.exe", "B", kNoInput),
		MakeRecord(212, "a.exe", "A2", 2),
		MakeRecord(220, "a.exe", "A2", 4)};
}

struct Outcome {
	SummaryTotals totals;
	int64_t runs = 0;
	int64_t median = 0;
};

Outcome Count(const std::vector<Record> &rows, int64_t gap, int64_t idle)
{
	Outcome outcome;
	IntervalStats stats;
	for (const Record &r : rows)
		stats.Add(r.check_tm);
	outcome.median = stats.Median();
	RunCounter counter(outcome.median, gap ? gap : 2 * outcome.median,
			   idle, [&](const Record &r, int64_t s, bool is_idle) {
				   outcome.totals.Count(r, s, is_idle);
			   });
	for (const Record &r : rows)
		counter.Add(r);
	counter.Finish();
	outcome.runs = counter.runs();
	return outcome;
}

int64_t SecondsOf(const std::vector<NamedTime> &lines,
		  const std::string &process)
{
	for (const NamedTime &line : lines)
		if (line.name == process)
			return line.seconds;
	return -1;
}

// Worked by hand from the rules in the --help text; intervals 10 (six
// times), 140, 12 and 8 give the median 10.
TEST(RecordsTally, HandMadeRowsCountIntervalsRunsAndIdle)
{
	const struct {
		int64_t gap, idle, a, b, idle_total, runs;
	} cases[] = {
		// cap 20: the 140 s gap ends the first run; the last row of each
		// run counts the median 10.
		{0, 180, 58, 22, 20, 2},
		// cap 140, exactly the gap: one run; the seventh row counts
		// its 140 s.
		{140, 180, 188, 22, 20, 1},
		// Only the row idle for 210 s reaches 205; at 200 both do.
		{0, 205, 58, 32, 10, 2},
		{0, 200, 58, 22, 20, 2},
		// cap 9: only the 8 s interval stays in a run; every other row
		// counts min(median, cap) = 9.
		{9, 180, 53, 18, 18, 9},
	};
	for (const auto &c : cases) {
		const Outcome o = Count(HandMadeRows(), c.gap, c.idle);
		const auto executables = o.totals.Executables();
		EXPECT_EQ(10, o.median);
		EXPECT_EQ(c.a, SecondsOf(executables, "a.exe")) << c.gap;
		EXPECT_EQ(c.b, SecondsOf(executables, "b.exe")) << c.gap;
		EXPECT_EQ(c.idle_total, o.totals.idle_seconds()) << c.gap;
		EXPECT_EQ(c.a + c.b + c.idle_total, o.totals.total_seconds());
		EXPECT_EQ(c.runs, o.runs) << c.gap;
	}
}

TEST(RecordsTally, TimeGoingBackEndsTheRun)
{
	const std::vector<Record> rows = {
		MakeRecord(100, "x", "", 1), MakeRecord(110, "x", "", 1),
		MakeRecord(50, "y", "", 1), MakeRecord(60, "y", "", 1)};
	const Outcome o = Count(rows, 0, 180);
	EXPECT_EQ(10, o.median);
	EXPECT_EQ(2, o.runs);
	EXPECT_EQ(20, SecondsOf(o.totals.Executables(), "x"));
	EXPECT_EQ(20, SecondsOf(o.totals.Executables(), "y"));
}

TEST(RecordsTally, MedianOfPositiveIntervals)
{
	const struct {
		std::vector<int64_t> times;
		int64_t median;
	} cases[] = {
		{{}, kDefaultInterval},
		{{5}, kDefaultInterval},
		{{7, 7, 7}, kDefaultInterval},
		{{0, 10, 20}, 10},
		{{0, 10, 30, 60}, 20},
		{{0, 10, 30}, 10},           // lower middle of 10 and 20
		{{0, 10, 5, 15}, 10},        // the step back is no interval
		{{0, 3, 6, 9, 1000}, 3},
		{{INT64_MIN, INT64_MAX}, kDefaultInterval},
	};
	for (const auto &c : cases) {
		IntervalStats stats;
		for (int64_t t : c.times)
			stats.Add(t);
		EXPECT_EQ(c.median, stats.Median()) << c.times.size();
	}
}

TEST(RecordsTally, SharesWithOneDecimal)
{
	EXPECT_EQ("33.3%", FormatShare(1, 3));
	EXPECT_EQ("66.7%", FormatShare(2, 3));
	EXPECT_EQ("0.0%", FormatShare(0, 5));
	EXPECT_EQ("100.0%", FormatShare(5, 5));
	EXPECT_EQ("-", FormatShare(5, 0));
}

} // namespace
