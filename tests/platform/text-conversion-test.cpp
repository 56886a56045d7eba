// The layer's text conversions, against Python's codecs and known
// character-set tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/compound-text.h"
#include "platform/utf16-text.h"
#include "tests/support/test-support.h"

using platform::text::CompoundTextToUtf8;
using platform::text::CopyTerminated;
using platform::text::Latin1ToUtf8;
using platform::text::Utf16ToUtf8;
using platform::text::Utf8ToUtf16;
using testing_support::Shell;
using testing_support::SplitLines;

namespace {

std::string FromHex(const std::string &hex)
{
	std::string bytes;
	for (size_t i = 0; i + 1 < hex.size(); i += 2)
		bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
	return bytes;
}

std::u16string Utf16FromHexLE(const std::string &hex)
{
	const std::string bytes = FromHex(hex);
	std::u16string text;
	for (size_t i = 0; i + 1 < bytes.size(); i += 2)
		text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
					      static_cast<unsigned char>(bytes[i + 1]) << 8);
	return text;
}

// Python's answers, one line of UTF-16LE hex per input given as hex.
std::vector<std::u16string> PythonDecode(const std::vector<std::string> &hex_inputs,
					 const std::string &codec)
{
	std::string script = "import sys\nfor h in sys.argv[1:]:\n"
			     "  print(bytes.fromhex(h).decode('" + codec +
			     "', 'replace').encode('utf-16-le').hex())\n";
	std::string command = "python3 -c \"" + script + "\"";
	for (const std::string &h : hex_inputs)
		command += " '" + h + "'";
	std::vector<std::u16string> answers;
	for (const std::string &line : SplitLines(Shell(command)))
		answers.push_back(Utf16FromHexLE(line));
	return answers;
}

} // namespace

TEST(TextConversion, Utf8DecodesAsPythonDoesIncludingMalformedInput)
{
	const std::vector<std::string> inputs = {
		"",                       // empty
		"616263",                 // abc
		"77c3b6726c64",           // wörld
		"e4b8ade69687",           // 中文
		"f09f9880",               // U+1F600, a surrogate pair in UTF-16
		"61ff62",                 // a byte that never occurs
		"c0af",                   // overlong slash
		"eda080",                 // an encoded surrogate
		"e4b8",                   // cut short
		"e4b841",                 // cut short, then a letter
		"f4908080",               // above U+10FFFF
		"80bf",                   // stray continuation bytes
		"f0928080e4",             // U+12000, then half of a character
	};
	const std::vector<std::u16string> expected = PythonDecode(inputs, "utf-8");
	ASSERT_EQ(expected.size(), inputs.size()) << "python3 did not answer";
	for (size_t i = 0; i < inputs.size(); ++i)
		EXPECT_EQ(Utf8ToUtf16(FromHex(inputs[i])), expected[i]) << inputs[i];
}

TEST(TextConversion, Latin1MapsEveryByteAsPythonDoes)
{
	std::string all, hex;
	for (int b = 1; b < 256; ++b) {
		all += static_cast<char>(b);
		char pair[3];
		snprintf(pair, sizeof(pair), "%02x", b);
		hex += pair;
	}
	const std::vector<std::u16string> expected = PythonDecode({hex}, "latin-1");
	ASSERT_EQ(expected.size(), 1u) << "python3 did not answer";
	EXPECT_EQ(Utf8ToUtf16(Latin1ToUtf8(all)), expected[0]);
}

TEST(TextConversion, Utf16ToUtf8ReplacesLoneSurrogates)
{
	const struct {
		std::u16string in;
		std::string out;
	} cases[] = {
		{u"", ""},
		{u"Caf\u00e9 \u4e2d\u6587", "Caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87"},
		{u"\U0001F600", "\xf0\x9f\x98\x80"},
		{std::u16string(1, char16_t(0xD83D)) + u"x", "\xef\xbf\xbdx"},
		{std::u16string(1, char16_t(0xDE00)), "\xef\xbf\xbd"},
		{u"CreateToolhelp32Snapshot\u5931\u8d25\n",
		 "CreateToolhelp32Snapshot\xe5\xa4\xb1\xe8\xb4\xa5\n"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(Utf16ToUtf8(c.in), c.out);
}

TEST(TextConversion, CopyStopsBeforeTheLimitAndNeverSplitsASurrogatePair)
{
	const std::u16string smile = u"ab\U0001F600c"; // a b high low c
	const struct {
		std::u16string text;
		int max_count;
		std::u16string copied;
	} cases[] = {
		{u"abc", 10, u"abc"},
		{u"abc", 4, u"abc"},
		{u"abc", 3, u"ab"},
		{u"abc", 1, u""},
		{smile, 6, smile},
		{smile, 5, u"ab\U0001F600"},
		{smile, 4, u"ab"}, // three units would end inside the pair
		{smile, 3, u"ab"},
		{u"\U0001F600", 2, u""},
	};
	for (const auto &c : cases) {
		std::u16string buffer(16, u'#');
		const int n = CopyTerminated(c.text, &buffer[0], c.max_count);
		EXPECT_EQ(n, static_cast<int>(c.copied.size())) << c.max_count;
		EXPECT_EQ(buffer.substr(0, c.copied.size()), c.copied);
		EXPECT_EQ(buffer[c.copied.size()], u'\0');
	}
	char16_t untouched[2] = {u'#', u'#'};
	EXPECT_EQ(CopyTerminated(u"abc", untouched, 0), 0);
	EXPECT_EQ(untouched[0], u'#');
}

// Byte sequences built from the ISO 2022 designations that X's compound
// text uses; the character-set bytes are Python's encodings of the text.
TEST(TextConversion, CompoundTextDecodesEachDesignatedSet)
{
	const struct {
		const char *hex;
		std::u16string text;
	} cases[] = {
		{"436166e9", u"Caf\u00e9"},                         // GR Latin-1 by default
		{"1b2d42a3f364bc", u"\u0141\u00f3d\u017a"},          // ESC - B: 8859-2
		{"1b2d4cbcd8e0", u"\u041c\u0438\u0440"},             // ESC - L: 8859-5
		{"1b2d62a4", u"\u20ac"},                             // ESC - b: 8859-15
		{"1b242941d6d0cec4", u"\u4e2d\u6587"},              // ESC $ ) A, GB2312 in GR
		{"1b2428424366", u"\u4e2d"},                         // ESC $ ( B, JIS X 0208 in GL
		{"1b242943c7d1b1b9", u"\ud55c\uad6d"},               // ESC $ ) C, KS C 5601
		{"1b2949b1b2", u"\uff71\uff72"},                     // ESC ) I, half-width katakana
		{"611b2547f09f98801b254062", u"a\U0001F600b"},       // ESC % G: a UTF-8 segment
		{"1b252f32808b626967352d3002a4a4a4e5", u"\u4e2d\u6587"}, // extended segment big5-0
		{"619b315d629b5d", u"ab"},                           // CSI 1 ] .. CSI ]: direction
		{"1b242941d6d0ce", u"\u4e2d\ufffd"},                 // half a character at the end
		{"611b", u"a"},                                      // an escape cut off
	};
	for (const auto &c : cases) {
		const std::u16string decoded = Utf8ToUtf16(CompoundTextToUtf8(FromHex(c.hex)));
		EXPECT_EQ(decoded, c.text) << c.hex;
	}
}
