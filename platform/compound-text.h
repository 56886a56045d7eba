#pragma once
// COMPOUND_TEXT, the ISO 2022 based encoding that older X clients use for
// WM_NAME, decoded to UTF-8.
#include <string>
#include <string_view>

namespace platform::text {

// Decodes the designations of Latin-1..9, the Chinese, Japanese and Korean
// double-byte sets, UTF-8 segments and extended segments in encodings that
// iconv knows. Characters that cannot be decoded become U+FFFD; direction
// and unknown escape sequences are skipped.
std::string CompoundTextToUtf8(std::string_view ctext);

} // namespace platform::text
