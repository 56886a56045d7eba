#include "tools/records-decode.h"

#include <climits>
#include <cstdlib>

#include "tools/records-text.h"

namespace {

// Bounds the memory of the name cache on files with many distinct names.
constexpr size_t kCacheLimit = 10000;
// Rows tried by CheckKey.
constexpr int64_t kKeyCheckRows = 64;

} // namespace

bool Record::idle_seconds(int64_t &seconds) const
{
	if (!active_ok || active_tm == 0)
		return false;
	seconds = check_tm - active_tm;
	return true;
}

bool ParseStoredTime(const std::string &text, int64_t &value)
{
	const bool negative = !text.empty() && text[0] == '-';
	const size_t first = negative ? 1 : 0;
	if (text.size() == first || text.size() > 20)
		return false;
	// Read by hand: this runs for nearly every row.
	uint64_t magnitude = 0;
	for (size_t i = first; i < text.size(); ++i) {
		const unsigned digit = static_cast<unsigned char>(text[i]) - '0';
		if (digit > 9 || magnitude > (UINT64_MAX - digit) / 10)
			return false;
		magnitude = magnitude * 10 + digit;
	}
	const uint64_t limit = negative ? uint64_t{1} << 63 : INT64_MAX;
	if (magnitude > limit)
		return false;
	value = negative ? static_cast<int64_t>(0 - magnitude)
			 : static_cast<int64_t>(magnitude);
	return true;
}

bool IsStoredName(const std::string &text)
{
	std::string valid;
	AppendValidUtf8(valid, text);
	if (valid != text)
		return false;
	for (unsigned char c : text)
		if (c < 0x20 || c == 0x7F)
			return false;
	return true;
}

RecordDecoder::RecordDecoder(std::string key) : cipher_(key, key) {}

void RecordDecoder::DecodeTime(const std::string &cipher_text, Record &record)
{
	if (!has_last_time_ || cipher_text != last_time_text_) {
		std::string plain;
		last_time_ok_ = cipher_.Decrypt(cipher_text, plain) == DecryptStatus::Ok &&
				ParseStoredTime(plain, last_time_);
		last_time_text_ = cipher_text;
		has_last_time_ = true;
	}
	record.active_ok = last_time_ok_;
	record.active_tm = last_time_ok_ ? last_time_ : 0;
}

void RecordDecoder::DecodeName(const std::string &cipher_text, Record &record)
{
	auto found = names_.find(cipher_text);
	if (found == names_.end()) {
		if (names_.size() >= kCacheLimit)
			names_.clear();
		Name name{false, std::string()};
		name.ok = cipher_.Decrypt(cipher_text, name.text) == DecryptStatus::Ok &&
			  IsStoredName(name.text);
		found = names_.emplace(cipher_text, std::move(name)).first;
	}
	record.process_ok = found->second.ok;
	if (record.process_ok)
		record.process = found->second.text;
}

void RecordDecoder::Decode(const RawRecord &raw, Record &record)
{
	record.id = raw.id;
	record.member_id = raw.member_id;
	record.check_tm = raw.check_tm;
	record.title = raw.title;
	DecodeTime(raw.active_tm, record);
	DecodeName(raw.process, record);
	good_values_ += record.active_ok + record.process_ok;
	bad_values_ += !record.active_ok + !record.process_ok;
}

KeyCheck CheckKey(RecordFile &file, const std::string &key,
		  std::string &error)
{
	RecordDecoder decoder(key);
	Record record;
	if (!file.ForEach(Period(),
			  [&](const RawRecord &raw) {
				  decoder.Decode(raw, record);
				  return true;
			  },
			  error, kKeyCheckRows))
		return KeyCheck::NoRows;
	if (decoder.good_values() > 0)
		return KeyCheck::Right;
	return decoder.bad_values() > 0 ? KeyCheck::Wrong : KeyCheck::NoRows;
}
