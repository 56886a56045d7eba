#include <cstdio>
#include <map>
#include <regex>

#include <QColor>
#include <QImage>
#include <gtest/gtest.h>

#include "tests/support/test-support.h"
#include "tests/tools/records-fixture.h"

namespace {

using records_fixture::kKey;
using records_fixture::Row;
using testing_support::TempDir;

constexpr int64_t kBase = 1714550400; // 2024-05-01 08:00:00 UTC

const std::string kOutputDir = RECORDS_TEST_OUTPUT_DIR;

// Rows a minute apart: chrome, then chrome idle for 300 s, code, xterm,
// and after a gap of 640 s code once more. The median is 60 and the cap 120.
std::vector<Row> ReportRows()
{
	auto row = [](int64_t offset, const char *process, const char *title,
		      int64_t idle) {
		return Row{7, std::to_string(kBase + offset - idle), kBase + offset,
			   process, title};
	};
	return {row(0, "chrome.exe", "Mail <inbox> & \"news\"", 5),
		row(60, "chrome.exe", "Mail <inbox> & \"news\"", 5),
		row(120, "chrome.exe", "Mail <inbox> & \"news\"", 300),
		row(180, "code", "main.cpp \xe2\x80\x94 vorlix", 1),
		row(240, "code", "main.cpp \xe2\x80\x94 vorlix", 1),
		row(300, "xterm", "bash", 2),
		row(360, "xterm", "bash", 2),
		row(1000, "code", "main.cpp \xe2\x80\x94 vorlix", 1)};
}

// Headless Chromium with a new empty profile; its stderr goes to
// `log_path`.
testing_support::RunResult Chromium(const std::string &profile,
				    const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {
		"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
		"--no-first-run", "--disable-background-networking",
		"--disable-component-update", "--disable-sync",
		"--user-data-dir=" + profile, "--enable-logging=stderr", "--v=0"};
	argv.insert(argv.end(), args.begin(), args.end());
	return testing_support::Run(argv, {}, 120);
}

struct DomSegment {
	std::string process;
	double x;
	double width;
	int height;
	std::string fill;
};

std::vector<DomSegment> Segments(const std::string &dom)
{
	std::vector<DomSegment> segments;
	const std::regex band("<g class=\"band\" data-process=\"([^\"]*)\">(.*?)</g>");
	const std::regex rect("<rect class=\"segment\" x=\"([0-9.]+)\" y=\"[0-9]+\" "
			      "width=\"([0-9.]+)\" height=\"([0-9]+)\" "
			      "fill=\"(#[0-9a-f]{6})\"");
	for (std::sregex_iterator b(dom.begin(), dom.end(), band), end; b != end;
	     ++b) {
		const std::string body = (*b)[2];
		for (std::sregex_iterator r(body.begin(), body.end(), rect);
		     r != end; ++r)
			segments.push_back({(*b)[1], std::stod((*r)[1]),
					    std::stod((*r)[2]), std::stoi((*r)[3]),
					    (*r)[4]});
	}
	return segments;
}

int CountPixels(const QImage &image, const QColor &colour)
{
	int count = 0;
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x) {
			const QColor pixel = image.pixelColor(x, y);
			if (std::abs(pixel.red() - colour.red()) <= 3 &&
			    std::abs(pixel.green() - colour.green()) <= 3 &&
			    std::abs(pixel.blue() - colour.blue()) <= 3)
				++count;
		}
	return count;
}

size_t Occurrences(const std::string &text, const std::string &part)
{
	size_t count = 0;
	for (size_t pos = text.find(part); pos != std::string::npos;
	     pos = text.find(part, pos + 1))
		++count;
	return count;
}

TEST(RecordsReport, OpensInChromiumWithOneBandPerExecutable)
{
	TempDir dir;
	const std::string file = dir / "1.6.mon.db";
	records_fixture::WriteRecordFile(file, kKey, ReportRows());
	const std::string html = kOutputDir + "/records-report.html";
	const std::string png = kOutputDir + "/records-report.png";
	std::remove(png.c_str());
	const auto result = records_fixture::RunTool(
		{"report", file, "--key", kKey, "--html", html});
	ASSERT_EQ(0, result.status) << result.err;
	EXPECT_EQ("Report written to " + html + " (8 rows)\n", result.out);

	// Self-contained: nothing that could fetch or run anything.
	const std::string page = testing_support::ReadFile(html);
	for (const char *outside : {"<script", "src=", "href=", "url(", "@import",
				    "http:", "https:", "<link", "<iframe"})
		EXPECT_EQ(std::string::npos, page.find(outside)) << outside;
	EXPECT_NE(std::string::npos,
		  page.find("<h1>Activity from 2024-05-01 08:00:00 to "
			    "2024-05-01 08:16:40, 8 rows</h1>"));
	EXPECT_NE(std::string::npos,
		  page.find("Mail &lt;inbox&gt; &amp; &quot;news&quot;"));

	// Chromium logs a refused resource or a script error as a console line.
	const auto dom = Chromium(dir / "profile-dom", {"--dump-dom", "file://" + html});
	ASSERT_EQ(0, dom.status) << dom.err;
	EXPECT_EQ(std::string::npos, dom.err.find(":CONSOLE")) << dom.err;
	EXPECT_EQ(3u, Occurrences(dom.out, "<g class=\"band\""));
	std::map<std::string, std::vector<DomSegment>> bands;
	for (const DomSegment &s : Segments(dom.out))
		bands[s.process].push_back(s);
	ASSERT_EQ(3u, bands.size());
	ASSERT_EQ(1u, bands["chrome.exe"].size());
	ASSERT_EQ(2u, bands["code"].size());
	ASSERT_EQ(1u, bands["xterm"].size());
	// chrome's stretch stands for 120 s; the idle minute after it is left
	// blank before code begins, and xterm follows code without a gap.
	const DomSegment &chrome = bands["chrome.exe"][0];
	const DomSegment &code = bands["code"][0];
	EXPECT_NEAR(chrome.width / 2, code.x - (chrome.x + chrome.width), 0.05);
	EXPECT_NEAR(code.x + code.width, bands["xterm"][0].x, 0.05);
	EXPECT_NE(chrome.fill, code.fill);
	EXPECT_NE(code.fill, bands["xterm"][0].fill);

	const auto shot = Chromium(dir / "profile-shot",
				   {"--screenshot=" + png, "--window-size=1280,1000",
				    "--hide-scrollbars", "file://" + html});
	ASSERT_EQ(0, shot.status) << shot.err;
	const QImage image(QString::fromStdString(png));
	ASSERT_FALSE(image.isNull()) << png;
	for (const auto &band : bands) {
		double area = 0;
		for (const DomSegment &s : band.second)
			area += s.width * s.height;
		const int pixels = CountPixels(
			image, QColor(QString::fromStdString(band.second[0].fill)));
		EXPECT_GE(pixels, 0.9 * area) << band.first;
	}
}

} // namespace
