#include "tools/records-decode.h"

#include <cerrno>
#include <cstdlib>

#include "store/value-cipher.h"
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
	const size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
	if (text.size() == digits || text.size() > 20 ||
	    text.find_first_not_of("0123456789", digits) != std::string::npos)
		return false;
	errno = 0;
	const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
	if (errno == ERANGE)
		return false;
	value = parsed;
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

RecordDecoder::RecordDecoder(std::string key) : key_(std::move(key)) {}

void RecordDecoder::DecodeTime(const std::string &cipher_text, Record &record)
{
	if (!has_last_time_ || cipher_text != last_time_text_) {
		std::string plain;
		last_time_ok_ = DecryptText(key_, key_, cipher_text, plain) ==
					DecryptStatus::Ok &&
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
		name.ok = DecryptText(key_, key_, cipher_text, name.text) ==
				  DecryptStatus::Ok &&
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
