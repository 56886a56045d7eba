#include "tools/records-text.h"

#include <gtest/gtest.h>

#include "tests/support/test-support.h"

namespace {

using testing_support::Hex;

std::string Json(const std::string &text)
{
	std::string out;
	AppendJsonString(out, text);
	return out;
}

// Python's json.dumps (ASCII output) is the known answer for valid text.
TEST(RecordsText, JsonEscapingMatchesPythonForValidText)
{
	const std::vector<std::string> inputs = {
		"plain title",
		"quote \" backslash \\ slash /",
		"\b\f\n\r\t",
		std::string("nul \x00 one \x01 us \x1f del \x7f",
			    sizeof("nul \x00 one \x01 us \x1f del \x7f") - 1),
		"caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 - \xe2\x80\x94",
		"line sep \xe2\x80\xa8 bom \xef\xbb\xbf",
		"emoji \xf0\x9f\x98\x80 and \xf4\x8f\xbf\xbf",
	};
	std::string command =
		"python3 -c 'import json,sys\n"
		"for a in sys.argv[1:]: print(json.dumps(bytes.fromhex(a).decode()))'";
	for (const std::string &input : inputs)
		command += " " + (input.empty() ? "''" : Hex(input));
	const auto expected =
		testing_support::SplitLines(testing_support::Shell(command));
	ASSERT_EQ(inputs.size(), expected.size());
	for (size_t i = 0; i < inputs.size(); ++i)
		EXPECT_EQ(expected[i], Json(inputs[i])) << "input " << i;
}

// One U+FFFD for each maximal subpart (the Unicode standard's Table 3-8):
// a sequence cut short is one, a byte that no sequence can hold is one.
TEST(RecordsText, InvalidUtf8BecomesOneReplacementCharacterPerMaximalSubpart)
{
	const struct {
		std::string input;
		std::string json;
	} cases[] = {
		{"a\xff", "\"a\\ufffd\""},
		{"cut \xc3", "\"cut \\ufffd\""},
		{"\xe2\x82", "\"\\ufffd\""},
		{"\xe2\x82x", "\"\\ufffdx\""},
		{"surrogate \xed\xa0\x80", "\"surrogate \\ufffd\\ufffd\\ufffd\""},
		{"overlong \xc0\xaf", "\"overlong \\ufffd\\ufffd\""},
		{"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},
		{"ok \xc3\xa9\x80", "\"ok \\u00e9\\ufffd\""},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(c.json, Json(c.input)) << Hex(c.input);
		std::string valid;
		AppendValidUtf8(valid, c.input);
		EXPECT_EQ(std::string::npos, valid.find('\xff'));
	}
}

TEST(RecordsText, CsvFieldQuotedOnlyForCommaQuoteOrLineBreak)
{
	const struct {
		std::string input;
		std::string field;
	} cases[] = {
		{"", ""},
		{"plain", "plain"},
		{" spaces kept ", " spaces kept "},
		{"a,b", "\"a,b\""},
		{"say \"hi\"", "\"say \"\"hi\"\"\""},
		{"\"", "\"\"\"\""},
		{"line\nbreak", "\"line\nbreak\""},
		{"crlf\r\n", "\"crlf\r\n\""},
		{"lone\rcr", "\"lone\rcr\""},
		{"tab\tonly", "tab\tonly"},
	};
	for (const auto &c : cases) {
		std::string out;
		AppendCsvField(out, c.input);
		EXPECT_EQ(c.field, out) << Hex(c.input);
	}
}

TEST(RecordsText, HtmlTextEscapesMarkupAndControls)
{
	const struct {
		std::string input;
		std::string html;
	} cases[] = {
		{"<b>&'\"", "&lt;b&gt;&amp;&#39;&quot;"},
		{"a\tb\nc\rd", "a b c d"},
		{"bell\x07", "bell\xef\xbf\xbd"},
		{"\xff", "\xef\xbf\xbd"},
		{"\xe4\xb8\xad", "\xe4\xb8\xad"},
	};
	for (const auto &c : cases) {
		std::string out;
		AppendHtmlText(out, c.input);
		EXPECT_EQ(c.html, out) << Hex(c.input);
	}
}

TEST(RecordsText, TerminalTextShowsControlsAndMeasuresWidth)
{
	const struct {
		std::string input;
		std::string printable;
		size_t width;
	} cases[] = {
		{"abc", "abc", 3},
		{"a\nb\tc\r", "a\\nb\\tc\\r", 9},
		{"\x1b[31mred", "\\x1b[31mred", 11},
		{"c1 \xc2\x9b", "c1 \\x9b", 7},
		{"\xe4\xb8\xad\xe6\x96\x87", "\xe4\xb8\xad\xe6\x96\x87", 4},
		{"e\xcc\x81", "e\xcc\x81", 1},
		{"\xef\xbc\xa1", "\xef\xbc\xa1", 2},
	};
	for (const auto &c : cases) {
		EXPECT_EQ(c.printable, PrintableText(c.input)) << Hex(c.input);
		EXPECT_EQ(c.width, DisplayWidth(PrintableText(c.input)))
			<< Hex(c.input);
	}
}

} // namespace
