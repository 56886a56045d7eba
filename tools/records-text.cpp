#include "tools/records-text.h"

#include <cstdint>
#include <cstdio>

#include "platform/utf16-text.h"

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// The code point at `pos`, moving past it; U+FFFD for each malformed
// sequence.
uint32_t NextCodePoint(const std::string &text, size_t &pos)
{
	const char32_t cp = platform::text::DecodeUtf8(text, pos);
	return cp == platform::text::kNotUtf8 ? kReplacement : cp;
}

void AppendJsonUnit(std::string &out, uint32_t unit)
{
	char escaped[16];
	snprintf(escaped, sizeof(escaped), "\\u%04x", unit);
	out += escaped;
}

bool IsControl(uint32_t cp)
{
	return cp < 0x20 || cp == 0x7F;
}

bool IsWide(uint32_t cp)
{
	return (cp >= 0x1100 && cp <= 0x115F) ||
	       (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
	       (cp >= 0xAC00 && cp <= 0xD7A3) ||
	       (cp >= 0xF900 && cp <= 0xFAFF) ||
	       (cp >= 0xFE30 && cp <= 0xFE4F) ||
	       (cp >= 0xFF00 && cp <= 0xFF60) ||
	       (cp >= 0xFFE0 && cp <= 0xFFE6) ||
	       (cp >= 0x1F300 && cp <= 0x1F64F) ||
	       (cp >= 0x1F900 && cp <= 0x1F9FF) ||
	       (cp >= 0x20000 && cp <= 0x3FFFD);
}

bool IsCombining(uint32_t cp)
{
	return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x200B && cp <= 0x200F) ||
	       (cp >= 0xFE20 && cp <= 0xFE2F);
}

bool IsAscii(const std::string &text)
{
	for (char c : text)
		if (static_cast<unsigned char>(c) >= 0x80)
			return false;
	return true;
}

} // namespace

void AppendValidUtf8(std::string &out, const std::string &text)
{
	if (IsAscii(text)) {
		out += text;
		return;
	}
	for (size_t pos = 0; pos < text.size();)
		platform::text::AppendUtf8(out, NextCodePoint(text, pos));
}

void AppendJsonString(std::string &out, const std::string &text)
{
	out += '"';
	for (size_t pos = 0; pos < text.size();) {
		const uint32_t cp = NextCodePoint(text, pos);
		switch (cp) {
		case '"': out += "\\\""; break;
		case '\\': out += "\\\\"; break;
		case '\b': out += "\\b"; break;
		case '\f': out += "\\f"; break;
		case '\n': out += "\\n"; break;
		case '\r': out += "\\r"; break;
		case '\t': out += "\\t"; break;
		default:
			if (cp >= 0x10000) {
				AppendJsonUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
				AppendJsonUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
			} else if (cp >= 0x80 || IsControl(cp)) {
				AppendJsonUnit(out, cp);
			} else {
				out += static_cast<char>(cp);
			}
		}
	}
	out += '"';
}

void AppendCsvField(std::string &out, const std::string &text)
{
	if (text.find_first_of(",\"\r\n") == std::string::npos) {
		AppendValidUtf8(out, text);
		return;
	}
	std::string valid;
	AppendValidUtf8(valid, text);
	out += '"';
	for (char c : valid) {
		if (c == '"')
			out += '"';
		out += c;
	}
	out += '"';
}

void AppendHtmlText(std::string &out, const std::string &text)
{
	for (size_t pos = 0; pos < text.size();) {
		const uint32_t cp = NextCodePoint(text, pos);
		switch (cp) {
		case '&': out += "&amp;"; break;
		case '<': out += "&lt;"; break;
		case '>': out += "&gt;"; break;
		case '"': out += "&quot;"; break;
		case '\'': out += "&#39;"; break;
		case '\t':
		case '\n':
		case '\r': out += ' '; break;
		default: platform::text::AppendUtf8(out, IsControl(cp) ? kReplacement : cp);
		}
	}
}

std::string PrintableText(const std::string &text)
{
	std::string out;
	for (size_t pos = 0; pos < text.size();) {
		const uint32_t cp = NextCodePoint(text, pos);
		if (cp == '\n') {
			out += "\\n";
		} else if (cp == '\r') {
			out += "\\r";
		} else if (cp == '\t') {
			out += "\\t";
		} else if (IsControl(cp) || (cp >= 0x80 && cp < 0xA0)) {
			char escaped[16];
			snprintf(escaped, sizeof(escaped), "\\x%02x", cp);
			out += escaped;
		} else {
			platform::text::AppendUtf8(out, cp);
		}
	}
	return out;
}

size_t DisplayWidth(const std::string &text)
{
	size_t width = 0;
	for (size_t pos = 0; pos < text.size();) {
		const uint32_t cp = NextCodePoint(text, pos);
		width += IsCombining(cp) ? 0 : IsWide(cp) ? 2 : 1;
	}
	return width;
}
