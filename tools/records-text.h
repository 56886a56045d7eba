#pragma once
// Escaping of record texts for each output: terminal, CSV, JSON and HTML.
// Titles come from other programs' windows and may hold anything, so every
// output form is made safe here and nowhere else.
#include <cstddef>
#include <string>

// Appends `text` with every invalid UTF-8 sequence replaced by U+FFFD (one
// for each maximal subpart, as platform::text::DecodeUtf8 finds them).
void AppendValidUtf8(std::string &out, const std::string &text);

// Appends `text` as a JSON string literal, quotes included, in ASCII only:
// '"' and '\' escaped, \b \f \n \r \t for those controls, \u00XX for the
// other controls and DEL, \uXXXX (surrogate pairs above U+FFFF) for every
// non-ASCII character, U+FFFD for invalid UTF-8.
void AppendJsonString(std::string &out, const std::string &text);

// Appends one CSV field (RFC 4180): in double quotes, with quotes doubled,
// when it holds a comma, a quote, CR or LF; otherwise unchanged.
void AppendCsvField(std::string &out, const std::string &text);

// Appends `text` for HTML text or a quoted attribute: & < > " ' as
// references, tab, CR and LF as spaces, other controls and invalid UTF-8 as
// U+FFFD.
void AppendHtmlText(std::string &out, const std::string &text);

// `text` for a terminal: \n \r \t and \xHH for the other controls, so that a
// title cannot break the table's lines or send escape sequences.
std::string PrintableText(const std::string &text);

// Terminal columns that `text` takes: East Asian wide characters count 2,
// combining marks 0, others 1.
size_t DisplayWidth(const std::string &text);
