#include "platform/compound-text.h"

#include <cctype>
#include <cerrno>

#include <iconv.h>

namespace platform::text {

namespace {

constexpr char kEsc = 0x1B;
constexpr unsigned char kCsi = 0x9B;
constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

// A character set designated into GL or GR. Its bytes are handed to iconv
// with the high bit set, which is the EUC / ISO 8859 form of every set here.
struct Charset {
	const char *iconv_name; // nullptr: ASCII
	int width;              // bytes per character
};

constexpr Charset kAscii{nullptr, 1};
constexpr Charset kLatin1{"ISO-8859-1", 1};

// Final bytes of the 96-character sets (ESC - F).
const char *Iso8859ByFinal(char final)
{
	switch (final) {
	case 'A': return "ISO-8859-1";
	case 'B': return "ISO-8859-2";
	case 'C': return "ISO-8859-3";
	case 'D': return "ISO-8859-4";
	case 'F': return "ISO-8859-7";
	case 'G': return "ISO-8859-6";
	case 'H': return "ISO-8859-8";
	case 'L': return "ISO-8859-5";
	case 'M': return "ISO-8859-9";
	case 'T': return "TIS-620";
	case 'V': return "ISO-8859-10";
	case 'Y': return "ISO-8859-13";
	case '_': return "ISO-8859-14";
	case 'b': return "ISO-8859-15";
	case 'f': return "ISO-8859-16";
	default: return nullptr;
	}
}

// Final bytes of the 94x94 sets (ESC $ ( F, ESC $ ) F).
const char *DoubleByteByFinal(char final)
{
	switch (final) {
	case 'A': return "EUC-CN";
	case 'B': return "EUC-JP";
	case 'C': return "EUC-KR";
	default: return nullptr;
	}
}

// "iso8859-15" -> "ISO-8859-15", "big5-0" -> "BIG5"; the names X uses for
// extended segments.
std::string IconvNameOfSegment(std::string name)
{
	for (char &c : name)
		c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
	if (name.size() > 2 && name.compare(name.size() - 2, 2, "-0") == 0)
		name.resize(name.size() - 2);
	if (name.compare(0, 7, "ISO8859") == 0)
		name.insert(3, "-");
	if (name == "ISO10646-1")
		name = "UCS-2BE";
	return name;
}

// Converts `bytes` from `charset` to UTF-8; what iconv cannot convert
// becomes one U+FFFD per character of `width` bytes.
void AppendConverted(std::string &out, const char *charset,
		     std::string bytes, size_t width)
{
	iconv_t cd = iconv_open("UTF-8", charset);
	if (cd == reinterpret_cast<iconv_t>(-1)) {
		out += kReplacementUtf8;
		return;
	}
	char *in = bytes.data();
	size_t in_left = bytes.size();
	char buffer[256];
	while (in_left > 0) {
		char *o = buffer;
		size_t o_left = sizeof(buffer);
		const size_t r = iconv(cd, &in, &in_left, &o, &o_left);
		out.append(buffer, static_cast<size_t>(o - buffer));
		if (r == static_cast<size_t>(-1) && errno != E2BIG) {
			const size_t skip = in_left < width ? in_left : width;
			in += skip;
			in_left -= skip;
			out += kReplacementUtf8;
		}
	}
	iconv_close(cd);
}

class Decoder {
public:
	explicit Decoder(std::string_view in) : in_(in) {}
	std::string Run();

private:
	void Escape();
	void Designate(std::string_view intermediates, char final);
	void ExtendedSegment(char width_digit);
	void Utf8Segment();
	void SkipControlSequence();
	void Graphic(const Charset &set, unsigned char byte);
	void Flush();

	std::string_view in_;
	size_t pos_ = 0;
	std::string out_;
	Charset gl_ = kAscii, gr_ = kLatin1;
	const Charset *pending_set_ = nullptr;
	std::string pending_;
};

std::string Decoder::Run()
{
	while (pos_ < in_.size()) {
		const unsigned char byte = static_cast<unsigned char>(in_[pos_]);
		if (byte == static_cast<unsigned char>(kEsc)) {
			Flush();
			++pos_;
			Escape();
		} else if (byte == kCsi) {
			Flush();
			++pos_;
			SkipControlSequence();
		} else if (byte == '\t' || byte == '\n' || byte == ' ') {
			Flush();
			out_ += static_cast<char>(byte);
			++pos_;
		} else if (byte > 0x20 && byte < 0x7F) {
			Graphic(gl_, byte);
			++pos_;
		} else if (byte >= 0xA0) {
			Graphic(gr_, byte);
			++pos_;
		} else {
			++pos_; // other C0 and C1 controls carry no text
		}
	}
	Flush();
	return out_;
}

void Decoder::Graphic(const Charset &set, unsigned char byte)
{
	if (!set.iconv_name) {
		Flush();
		out_ += static_cast<char>(byte & 0x7F);
		return;
	}
	if (pending_set_ != &set)
		Flush();
	pending_set_ = &set;
	pending_ += static_cast<char>(byte | 0x80);
}

void Decoder::Flush()
{
	if (pending_set_ && !pending_.empty())
		AppendConverted(out_, pending_set_->iconv_name, pending_,
				static_cast<size_t>(pending_set_->width));
	pending_.clear();
	pending_set_ = nullptr;
}

void Decoder::Escape()
{
	const size_t start = pos_;
	while (pos_ < in_.size() && in_[pos_] >= 0x20 && in_[pos_] <= 0x2F)
		++pos_;
	if (pos_ >= in_.size())
		return;
	const std::string_view intermediates = in_.substr(start, pos_ - start);
	const char final = in_[pos_++];
	if (intermediates == "%" && final == 'G')
		Utf8Segment();
	else if (intermediates == "%/" && final >= '0' && final <= '4')
		ExtendedSegment(final);
	else
		Designate(intermediates, final);
}

void Decoder::Designate(std::string_view intermediates, char final)
{
	if (intermediates == "(") {
		// ASCII and JIS X 0201 Roman read alike.
		if (final == 'B' || final == 'J')
			gl_ = kAscii;
	} else if (intermediates == ")" && final == 'I') {
		// Half-width katakana: Shift_JIS has them as these very bytes.
		gr_ = Charset{"SHIFT_JIS", 1};
	} else if (intermediates == "-") {
		if (const char *name = Iso8859ByFinal(final))
			gr_ = Charset{name, 1};
	} else if (intermediates == "$(" || intermediates == "$") {
		if (const char *name = DoubleByteByFinal(final))
			gl_ = Charset{name, 2};
	} else if (intermediates == "$)") {
		if (const char *name = DoubleByteByFinal(final))
			gr_ = Charset{name, 2};
	}
}

// ESC % G <UTF-8 bytes> ESC % @
void Decoder::Utf8Segment()
{
	const size_t end = in_.find("\x1B%@", pos_);
	const size_t stop = end == std::string_view::npos ? in_.size() : end;
	AppendConverted(out_, "UTF-8", std::string(in_.substr(pos_, stop - pos_)), 1);
	pos_ = end == std::string_view::npos ? in_.size() : end + 3;
}

// ESC % / F M L <name> STX <data>, where (M - 128) * 128 + (L - 128) is the
// length of name, STX and data together.
void Decoder::ExtendedSegment(char width_digit)
{
	if (pos_ + 2 > in_.size()) {
		pos_ = in_.size();
		return;
	}
	const size_t length =
		(static_cast<unsigned char>(in_[pos_]) & 0x7F) * 128u +
		(static_cast<unsigned char>(in_[pos_ + 1]) & 0x7F);
	pos_ += 2;
	const std::string_view segment = in_.substr(pos_, length);
	pos_ += segment.size();
	const size_t stx = segment.find('\x02');
	if (stx == std::string_view::npos) {
		out_ += kReplacementUtf8;
		return;
	}
	const size_t width = width_digit == '0' ? 1 : width_digit - '0';
	AppendConverted(out_, IconvNameOfSegment(std::string(segment.substr(0, stx))).c_str(),
			std::string(segment.substr(stx + 1)), width);
}

// CSI P... I... F: direction changes, which carry no text.
void Decoder::SkipControlSequence()
{
	while (pos_ < in_.size()) {
		const unsigned char byte = static_cast<unsigned char>(in_[pos_++]);
		if (byte >= 0x40 && byte <= 0x7E)
			return;
	}
}

} // namespace

std::string CompoundTextToUtf8(std::string_view ctext)
{
	return Decoder(ctext).Run();
}

} // namespace platform::text
