#include "tools/records-decode.h"

#include <climits>
#include <cstdlib>

#include <openssl/evp.h>

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

// The blocks are deciphered in ECB mode without padding, so that one
// context serves every value without being set up again (in OpenSSL 3 each
// set-up looks the cipher's parameters up by name); the CBC chaining, with
// the key as IV, and the PKCS#7 padding are undone here.
ValueDecrypter::ValueDecrypter(const std::string &key)
	: key_(key), ctx_(EVP_CIPHER_CTX_new())
{
	ready_ = ctx_ && key_.size() == 16 &&
		 EVP_DecryptInit_ex(ctx_, EVP_aes_128_ecb(), nullptr,
				    reinterpret_cast<const unsigned char *>(key_.data()),
				    nullptr) == 1 &&
		 EVP_CIPHER_CTX_set_padding(ctx_, 0) == 1;
}

ValueDecrypter::~ValueDecrypter()
{
	EVP_CIPHER_CTX_free(ctx_);
}

bool ValueDecrypter::DecodeBase64(const std::string &base64)
{
	if (base64.empty() || base64.size() % 4 != 0 ||
	    base64.size() > INT_MAX / 2)
		return false;
	const int chars = static_cast<int>(base64.size());
	bytes_.resize(base64.size() / 4 * 3);
	auto *bytes = reinterpret_cast<unsigned char *>(&bytes_[0]);
	int length = EVP_DecodeBlock(
		bytes, reinterpret_cast<const unsigned char *>(base64.data()), chars);
	length -= base64[chars - 1] == '=' ? (base64[chars - 2] == '=' ? 2 : 1) : 0;
	if (length <= 0 || length % 16 != 0)
		return false;
	bytes_.resize(static_cast<size_t>(length));
	// EVP_DecodeBlock lets white space and stray bits through; encoded
	// again, only the monitor's own form comes out the same.
	check_.resize(base64.size() + 1);
	return EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&check_[0]),
			       bytes, length) == chars &&
	       check_.compare(0, base64.size(), base64) == 0;
}

bool ValueDecrypter::Decrypt(const std::string &base64, std::string &plain)
{
	if (!ready_ || !DecodeBase64(base64))
		return false;
	const int length = static_cast<int>(bytes_.size());
	plain.resize(bytes_.size());
	auto *out = reinterpret_cast<unsigned char *>(&plain[0]);
	int written = 0;
	if (EVP_DecryptUpdate(ctx_, out,
			      &written,
			      reinterpret_cast<const unsigned char *>(bytes_.data()),
			      length) != 1 ||
	    written != length)
		return false;
	for (int i = 0; i < length; ++i)
		out[i] ^= static_cast<unsigned char>(i < 16 ? key_[i] : bytes_[i - 16]);
	const unsigned char pad = out[length - 1];
	if (pad == 0 || pad > 16)
		return false;
	for (int i = length - pad; i < length; ++i)
		if (out[i] != pad)
			return false;
	plain.resize(static_cast<size_t>(length - pad));
	return true;
}

RecordDecoder::RecordDecoder(std::string key) : decrypter_(key) {}

void RecordDecoder::DecodeTime(const std::string &cipher_text, Record &record)
{
	if (!has_last_time_ || cipher_text != last_time_text_) {
		std::string plain;
		last_time_ok_ = decrypter_.Decrypt(cipher_text, plain) &&
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
		name.ok = decrypter_.Decrypt(cipher_text, name.text) &&
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
