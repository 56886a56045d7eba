#pragma once
// Text conversions of the operating-system layer. Window texts travel as
// UTF-16; the X server and the file system hand out bytes. Malformed input
// never fails a conversion: each bad sequence becomes U+FFFD.
#include <string>
#include <string_view>

namespace platform::text {

// What DecodeUtf8 gives for a malformed sequence.
constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// The one UTF-8 decoder of the project: the scalar value at utf8[i], moving
// i past it. A malformed sequence (stray continuation byte, overlong form,
// surrogate, beyond U+10FFFF, cut short) gives kNotUtf8 and moves i past its
// longest valid beginning, at least one byte (the Unicode standard's
// "maximal subpart"), so the next valid character is never swallowed. The
// caller decides what bad bytes become: U+FFFD each, or Latin-1 characters.
// i must be below utf8.size().
char32_t DecodeUtf8(std::string_view utf8, size_t &i);

std::u16string Utf8ToUtf16(std::string_view utf8);

// Lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Appends the UTF-8 bytes of the scalar value `c` (at most U+10FFFF).
void AppendUtf8(std::string &out, char32_t c);

// ISO 8859-1 bytes (the X STRING type) to UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);

// The length of `cut`, a text cut short, less one when the cut left the
// first half of a surrogate pair at its end: what any cut of window or file
// texts keeps, so that no half character is stored or shown.
size_t WholePairsLength(std::u16string_view cut);

// Copies `text` into `buffer` as GetWindowTextW does: at most max_count - 1
// units and a terminating zero, never ending in the first half of a
// surrogate pair. Returns the units copied; 0 and nothing written when
// max_count < 1.
int CopyTerminated(std::u16string_view text, char16_t *buffer, int max_count);

} // namespace platform::text
