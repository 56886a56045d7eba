#pragma once
// Turns stored rows into readable records: decrypts the last-input time and
// the executable name, and tells a wrong key from a damaged row.
#include <cstdint>
#include <string>
#include <unordered_map>

#include "store/value-cipher.h"
#include "tools/records-file.h"

struct Record {
	int64_t id = 0;
	int64_t member_id = 0;
	int64_t check_tm = 0;
	int64_t active_tm = 0; // meaningful when active_ok
	bool active_ok = false;
	std::string process; // meaningful when process_ok
	bool process_ok = false;
	std::string title;

	bool damaged() const { return !active_ok || !process_ok; }
	// Seconds since the last input; false when not known (active_tm 0 or
	// damaged).
	bool idle_seconds(int64_t &seconds) const;
};

class RecordDecoder {
public:
	// `key` must hold the 16 bytes of the cipher key (key and IV alike).
	explicit RecordDecoder(std::string key);

	// Decrypts both protected values of `raw`. A value counts as readable
	// only when its padding checks out and its text is what the monitor
	// stores: a decimal number for the time, UTF-8 without control
	// characters for the name.
	void Decode(const RawRecord &raw, Record &record);

	// Values that decrypted to a readable text, and values that did not.
	int64_t good_values() const { return good_values_; }
	int64_t bad_values() const { return bad_values_; }

private:
	void DecodeTime(const std::string &cipher_text, Record &record);
	void DecodeName(const std::string &cipher_text, Record &record);

	ValueCipher cipher_;
	// The last-input time repeats while the user is away: the last one is
	// kept.
	std::string last_time_text_;
	bool last_time_ok_ = false;
	int64_t last_time_ = 0;
	bool has_last_time_ = false;
	// Equal names encrypt to equal texts (the IV is fixed), and a few names
	// fill almost every row: each is decrypted and checked once.
	struct Name {
		bool ok;
		std::string text;
	};
	std::unordered_map<std::string, Name> names_;
	int64_t good_values_ = 0;
	int64_t bad_values_ = 0;
};

// The decimal text of a time as the monitor writes it ("%lld").
bool ParseStoredTime(const std::string &text, int64_t &value);

// An executable name as the monitor stores it: UTF-8 without controls.
bool IsStoredName(const std::string &text);

enum class KeyCheck { Right, Wrong, NoRows };

// Tries `key` on the first rows of the file: Wrong when not one value of
// them decrypts (with a wrong key a value passes the padding check by chance
// once in 256 tries, and its text then is not a number or a name); NoRows
// when the file has no row, or, with `error` set, cannot be read.
KeyCheck CheckKey(RecordFile &file, const std::string &key,
		  std::string &error);
