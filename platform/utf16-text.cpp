#include "platform/utf16-text.h"

namespace platform::text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit)
{
	return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit)
{
	return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

char32_t DecodeUtf8(std::string_view utf8, size_t &i)
{
	const unsigned char lead = static_cast<unsigned char>(utf8[i]);
	if (lead < 0x80) {
		++i;
		return lead;
	}
	size_t extra;
	char32_t value;
	unsigned char low = 0x80, high = 0xBF; // allowed second byte
	if (lead >= 0xC2 && lead <= 0xDF) {
		extra = 1, value = lead & 0x1F;
	} else if (lead >= 0xE0 && lead <= 0xEF) {
		extra = 2, value = lead & 0x0F;
		low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
		high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
	} else if (lead >= 0xF0 && lead <= 0xF4) {
		extra = 3, value = lead & 0x07;
		low = lead == 0xF0 ? 0x90 : 0x80;
		high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
	} else {
		++i;
		return kNotUtf8;
	}
	size_t taken = 1;
	for (; taken <= extra && i + taken < utf8.size(); ++taken) {
		const unsigned char next = static_cast<unsigned char>(utf8[i + taken]);
		if (next < low || next > high)
			break;
		low = 0x80, high = 0xBF;
		value = (value << 6) | (next & 0x3F);
	}
	i += taken;
	return taken == extra + 1 ? value : kNotUtf8;
}

void AppendUtf8(std::string &out, char32_t c)
{
	if (c < 0x80) {
		out += static_cast<char>(c);
	} else if (c < 0x800) {
		out += static_cast<char>(0xC0 | (c >> 6));
		out += static_cast<char>(0x80 | (c & 0x3F));
	} else if (c < 0x10000) {
		out += static_cast<char>(0xE0 | (c >> 12));
		out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
		out += static_cast<char>(0x80 | (c & 0x3F));
	} else {
		out += static_cast<char>(0xF0 | (c >> 18));
		out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
		out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
		out += static_cast<char>(0x80 | (c & 0x3F));
	}
}

std::u16string Utf8ToUtf16(std::string_view utf8)
{
	std::u16string out;
	out.reserve(utf8.size());
	for (size_t i = 0; i < utf8.size();) {
		char32_t c = DecodeUtf8(utf8, i);
		if (c == kNotUtf8)
			c = kReplacement;
		if (c < 0x10000) {
			out += static_cast<char16_t>(c);
		} else {
			out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
			out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
		}
	}
	return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16)
{
	std::string out;
	out.reserve(utf16.size() * 3);
	for (size_t i = 0; i < utf16.size(); ++i) {
		const char16_t unit = utf16[i];
		if (IsHighSurrogate(unit) && i + 1 < utf16.size() &&
		    IsLowSurrogate(utf16[i + 1])) {
			AppendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) +
						(char32_t(utf16[i + 1]) - 0xDC00));
			++i;
		} else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
			AppendUtf8(out, kReplacement);
		} else {
			AppendUtf8(out, unit);
		}
	}
	return out;
}

std::string Latin1ToUtf8(std::string_view latin1)
{
	std::string out;
	out.reserve(latin1.size() * 2);
	for (const char byte : latin1)
		AppendUtf8(out, static_cast<unsigned char>(byte));
	return out;
}

size_t WholePairsLength(std::u16string_view cut)
{
	return !cut.empty() && IsHighSurrogate(cut.back()) ? cut.size() - 1 : cut.size();
}

int CopyTerminated(std::u16string_view text, char16_t *buffer, int max_count)
{
	if (max_count < 1)
		return 0;
	size_t count = text.size();
	if (count > static_cast<size_t>(max_count - 1)) {
		count = static_cast<size_t>(max_count - 1);
		count = WholePairsLength(text.substr(0, count));
	}
	text.copy(buffer, count);
	buffer[count] = 0;
	return static_cast<int>(count);
}

} // namespace platform::text
