#include "tools/records-tally.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

void IntervalStats::Add(int64_t check_tm)
{
	if (rows_ == 0) {
		earliest_ = latest_ = check_tm;
	} else {
		earliest_ = std::min(earliest_, check_tm);
		latest_ = std::max(latest_, check_tm);
		// Unsigned: a difference across the whole 64-bit range must not
		// overflow; such an "interval" is no interval anyway.
		const uint64_t step = static_cast<uint64_t>(check_tm) -
				      static_cast<uint64_t>(previous_);
		if (check_tm > previous_ && step <= INT64_MAX) {
			++counts_[static_cast<int64_t>(step)];
			++positive_;
		}
	}
	previous_ = check_tm;
	++rows_;
}

int64_t IntervalStats::Median() const
{
	if (positive_ == 0)
		return kDefaultInterval;
	int64_t remaining = (positive_ - 1) / 2;
	for (const auto &entry : counts_) {
		if (remaining < entry.second)
			return entry.first;
		remaining -= entry.second;
	}
	return counts_.rbegin()->first;
}

RunCounter::RunCounter(int64_t median, int64_t cap, int64_t idle_threshold,
		       Sink sink)
	: last_of_run_(std::min(median, cap)),
	  cap_(cap),
	  idle_threshold_(idle_threshold),
	  sink_(std::move(sink))
{
}

void RunCounter::CountPending(int64_t seconds)
{
	int64_t idle = 0;
	const bool is_idle =
		pending_.idle_seconds(idle) && idle >= idle_threshold_;
	sink_(pending_, seconds, is_idle);
}

void RunCounter::Add(const Record &record)
{
	if (!has_pending_) {
		++runs_;
	} else {
		const uint64_t step = static_cast<uint64_t>(record.check_tm) -
				      static_cast<uint64_t>(pending_.check_tm);
		const bool same_run = record.check_tm >= pending_.check_tm &&
				      step <= static_cast<uint64_t>(cap_);
		CountPending(same_run ? static_cast<int64_t>(step)
				      : last_of_run_);
		runs_ += !same_run;
	}
	pending_ = record;
	has_pending_ = true;
}

void RunCounter::Finish()
{
	if (has_pending_)
		CountPending(last_of_run_);
	has_pending_ = false;
}

const std::string &ProcessLabel(const Record &record)
{
	static const std::string kDamagedName = "?";
	return record.process_ok ? record.process : kDamagedName;
}

void SummaryTotals::Count(const Record &record, int64_t seconds, bool idle,
			  const std::string *category)
{
	if (idle) {
		idle_ += seconds;
		return;
	}
	active_ += seconds;
	const std::string &name = ProcessLabel(record);
	executables_[name] += seconds;
	if (category)
		categories_[*category] += seconds;
	if (!with_titles_)
		return;
	title_key_.assign(name).append(1, '\0').append(record.title);
	const auto found = titles_.find(title_key_);
	if (found != titles_.end())
		found->second += seconds;
	else
		titles_.emplace(title_key_, seconds);
}

void SummaryTotals::Merge(const SummaryTotals &other)
{
	active_ += other.active_;
	idle_ += other.idle_;
	for (const auto &entry : other.executables_)
		executables_[entry.first] += entry.second;
	for (const auto &entry : other.categories_)
		categories_[entry.first] += entry.second;
	if (with_titles_)
		for (const auto &entry : other.titles_)
			titles_[entry.first] += entry.second;
}

void SummaryInfo::Merge(const SummaryInfo &other)
{
	if (other.rows == 0) {
		files += other.files;
		return;
	}
	const bool first = rows == 0;
	earliest = first ? other.earliest : std::min(earliest, other.earliest);
	latest = first ? other.latest : std::max(latest, other.latest);
	median = first ? other.median : std::min(median, other.median);
	median_max = first ? other.median_max
			   : std::max(median_max, other.median_max);
	cap = first ? other.cap : std::min(cap, other.cap);
	cap_max = first ? other.cap_max : std::max(cap_max, other.cap_max);
	idle_threshold = other.idle_threshold;
	files += other.files;
	rows += other.rows;
	runs += other.runs;
}

namespace {

std::vector<NamedTime> SortedTimes(
	const std::unordered_map<std::string, int64_t> &totals)
{
	std::vector<NamedTime> lines;
	for (const auto &entry : totals)
		lines.push_back({entry.first, entry.second});
	std::sort(lines.begin(), lines.end(),
		  [](const NamedTime &a, const NamedTime &b) {
			  return a.seconds != b.seconds ? a.seconds > b.seconds
							: a.name < b.name;
		  });
	return lines;
}

} // namespace

std::vector<NamedTime> SummaryTotals::Executables() const
{
	return SortedTimes(executables_);
}

std::vector<NamedTime> SummaryTotals::Categories() const
{
	return SortedTimes(categories_);
}

std::vector<TitleTime> SummaryTotals::Titles() const
{
	std::vector<TitleTime> lines;
	for (const auto &entry : titles_) {
		const size_t nul = entry.first.find('\0');
		lines.push_back({entry.first.substr(0, nul),
				 entry.first.substr(nul + 1), entry.second});
	}
	std::sort(lines.begin(), lines.end(),
		  [](const TitleTime &a, const TitleTime &b) {
			  if (a.seconds != b.seconds)
				  return a.seconds > b.seconds;
			  if (a.process != b.process)
				  return a.process < b.process;
			  return a.title < b.title;
		  });
	return lines;
}

const LocalDays::Day &LocalDays::Of(int64_t t)
{
	if (known_ && t >= day_.start && t < day_.end)
		return day_;
	std::tm local{};
	if (!platform::LocalTime(t, &local)) {
		// Outside what the C library can convert: days of UTC.
		day_.start = t - ((t % 86400) + 86400) % 86400;
		day_.end = day_.start + 86400;
		day_.label = "?";
		known_ = true;
		return day_;
	}
	char label[32];
	snprintf(label, sizeof(label), "%04d-%02d-%02d", local.tm_year + 1900,
		 local.tm_mon + 1, local.tm_mday);
	day_.label = label;
	std::tm midnight{};
	midnight.tm_year = local.tm_year;
	midnight.tm_mon = local.tm_mon;
	midnight.tm_mday = local.tm_mday;
	midnight.tm_isdst = -1;
	std::tm next = midnight;
	++next.tm_mday;
	// Where a clock change skips midnight, mktime moves on to the first
	// time that exists; the bounds still hold `t`.
	day_.start = std::min<int64_t>(t, std::mktime(&midnight));
	day_.end = std::max<int64_t>(t + 1, std::mktime(&next));
	known_ = true;
	return day_;
}

bool GroupKey::operator<(const GroupKey &other) const
{
	if (user != other.user) {
		const long long a = std::atoll(user.c_str());
		const long long b = std::atoll(other.user.c_str());
		return a != b ? a < b : user < other.user;
	}
	return day < other.day;
}

GroupData &Tally::Group(const std::string &user, const LocalDays::Day *day)
{
	GroupKey key{settings_.by_user ? user : std::string(),
		     day ? day->label : std::string()};
	if (last_ && key.user == last_key_.user && key.day == last_key_.day)
		return *last_;
	GroupData &group = groups[key];
	if (day) {
		group.day_start = day->start;
		group.day_end = day->end;
	}
	last_key_ = std::move(key);
	last_ = &group;
	return group;
}

void Tally::Count(const std::string &user, const Record &record,
		  int64_t seconds, bool idle, const std::string *category)
{
	totals.Count(record, seconds, idle, category);
	if (!settings_.by_day && !settings_.bands) {
		if (settings_.by_user)
			Group(user, nullptr).totals.Count(record, seconds, idle,
							  category);
		return;
	}
	const std::string &colour = category ? *category : ProcessLabel(record);
	int64_t start = record.check_tm, left = seconds;
	do {
		const LocalDays::Day &day = days_.Of(start);
		const int64_t piece = std::min(left, day.end - start);
		GroupData &group = Group(user, &day);
		group.totals.Count(record, piece, idle, category);
		if (settings_.bands && !idle && piece > 0) {
			std::vector<Segment> &band = group.bands[colour];
			if (!band.empty() && band.back().end == start)
				band.back().end += piece;
			else
				band.push_back({start, start + piece});
		}
		start += piece;
		left -= piece;
	} while (left > 0);
}

void Tally::Merge(const Tally &other)
{
	info.Merge(other.info);
	totals.Merge(other.totals);
	for (const auto &entry : other.groups) {
		GroupData &group = groups[entry.first];
		group.totals.Merge(entry.second.totals);
		group.day_start = entry.second.day_start;
		group.day_end = entry.second.day_end;
		for (const auto &band : entry.second.bands) {
			std::vector<Segment> &mine = group.bands[band.first];
			mine.insert(mine.end(), band.second.begin(),
				    band.second.end());
		}
	}
	last_ = nullptr;
}

std::string UserName(const std::string &user)
{
	return user.empty() ? "-" : user;
}

