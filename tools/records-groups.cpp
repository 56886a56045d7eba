#include "tools/records-groups.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"
#include "tools/records-time.h"

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

namespace {

std::string GroupName(const GroupKey &key, bool by_user)
{
	if (!by_user)
		return "Day " + key.day;
	const std::string user = "User " + UserName(key.user);
	return key.day.empty() ? user : user + ", day " + key.day;
}

} // namespace

std::string FormatGroups(const Tally &tally, bool by_user, bool by_day)
{
	std::vector<std::vector<std::string>> rows;
	std::vector<std::string> head;
	if (by_user)
		head.push_back("User");
	if (by_day)
		head.push_back("Day");
	const size_t names = head.size();
	head.insert(head.end(), {"At work", "Idle", "Total"});
	rows.push_back(head);
	for (const auto &entry : tally.groups) {
		std::vector<std::string> row;
		if (by_user)
			row.push_back(UserName(entry.first.user));
		if (by_day)
			row.push_back(entry.first.day);
		const SummaryTotals &totals = entry.second.totals;
		row.insert(row.end(), {FormatDuration(totals.active_seconds()),
				       FormatDuration(totals.idle_seconds()),
				       FormatDuration(totals.total_seconds())});
		rows.push_back(row);
	}
	std::vector<bool> right(names, false);
	right.insert(right.end(), 3, true);
	std::string out = "\n";
	AppendAligned(rows, right, out);
	for (const auto &entry : tally.groups) {
		out += "\n" + GroupName(entry.first, by_user) + "\n";
		AppendTimeTable(entry.second.totals, false, out);
		if (entry.second.totals.has_categories()) {
			out += '\n';
			AppendTimeTable(entry.second.totals, true, out);
		}
	}
	return out;
}
