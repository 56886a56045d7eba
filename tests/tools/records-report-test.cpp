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
	std::string day;
	std::string name;
	double x;
	double width;
	int height;
	std::string colour;
};

// The stretches of work drawn in each day's lane: one path per colour, a
// thick line per stretch.
std::vector<DomSegment> Segments(const std::string &dom)
{
	std::vector<DomSegment> segments;
	const std::regex lane("<g class=\"day\" data-day=\"([^\"]*)\">(.*?)</g>");
	const std::regex path("<path class=\"work\" data-name=\"([^\"]*)\" "
			      "d=\"([^\"]*)\" stroke=\"(#[0-9a-f]{6})\" "
			      "stroke-width=\"([0-9]+)\"");
	const std::regex piece("M([0-9.]+) [0-9.]+h([0-9.]+)");
	const std::sregex_iterator end;
	for (std::sregex_iterator l(dom.begin(), dom.end(), lane); l != end; ++l) {
		const std::string body = (*l)[2];
		for (std::sregex_iterator p(body.begin(), body.end(), path);
		     p != end; ++p) {
			const std::string d = (*p)[2];
			for (std::sregex_iterator m(d.begin(), d.end(), piece);
			     m != end; ++m)
				segments.push_back({(*l)[1], (*p)[1],
						    std::stod((*m)[1]),
						    std::stod((*m)[2]),
						    std::stoi((*p)[4]), (*p)[3]});
		}
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
		  page.find("<h1>Activity from 2024-05-01 08:00:00+00:00 to "
			    "2024-05-01 08:16:40+00:00, 8 rows</h1>"));
	EXPECT_NE(std::string::npos,
		  page.find("Mail &lt;inbox&gt; &amp; &quot;news&quot;"));

	// Chromium logs a refused resource or a script error as a console line.
	const auto dom = Chromium(dir / "profile-dom", {"--dump-dom", "file://" + html});
	ASSERT_EQ(0, dom.status) << dom.err;
	EXPECT_EQ(std::string::npos, dom.err.find(":CONSOLE")) << dom.err;
	EXPECT_EQ(1u, Occurrences(dom.out, "<g class=\"day\""));
	std::map<std::string, std::vector<DomSegment>> bands;
	for (const DomSegment &s : Segments(dom.out))
		bands[s.name].push_back(s);
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
	EXPECT_NE(chrome.colour, code.colour);
	EXPECT_NE(code.colour, bands["xterm"][0].colour);

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
			image, QColor(QString::fromStdString(band.second[0].colour)));
		EXPECT_GE(pixels, 0.9 * area) << band.first;
	}
}

// Two users over two days: a lane per user and day, and every stretch
// in the colour that the legend gives its category. Two more files, one
// no database and one without a key, are named at the top with why.
TEST(RecordsReport, TeamReportHasALanePerUserAndDayColouredByCategory)
{
	TempDir dir;
	records_fixture::WriteTeamFiles(dir.path());
	testing_support::WriteFile(dir / "team/14.6.mon.db", std::string(200, 'x'));
	testing_support::WriteFile(dir / "team/15.6.mon.db", "");
	testing_support::WriteFile(dir / "keys", testing_support::ReadFile(dir / "keys") +
						 "\n14 " + kKey + "\n");
	const std::string html = kOutputDir + "/records-team-report.html";
	const auto result = records_fixture::RunTool(
		{"report", dir / "team", "--keys", dir / "keys", "--categories",
		 dir / "categories", "--html", html},
		{records_fixture::kTeamZone});
	ASSERT_EQ(3, result.status) << result.err;

	const auto dom = Chromium(dir / "profile", {"--dump-dom", "file://" + html});
	ASSERT_EQ(0, dom.status) << dom.err;
	EXPECT_EQ(std::string::npos, dom.err.find(":CONSOLE")) << dom.err;
	const std::regex left_out("<div class=\"left-out\"><p>([^<]*)</p>\\s*<ul>([\\s\\S]*?)</ul>");
	std::smatch found;
	ASSERT_TRUE(std::regex_search(dom.out, found, left_out)) << dom.out;
	EXPECT_EQ("2 of 4 record files were left out:", found[1].str());
	EXPECT_EQ("<li>" + dir / "team/14.6.mon.db" + " is not an SQLite database</li>\n"
		  "<li>no key for user 15 (" + dir / "team/15.6.mon.db" + ") in " +
			  dir / "keys" + "</li>\n",
		  found[2].str());
	EXPECT_LT(dom.out.find("class=\"left-out\""), dom.out.find("<svg"));
	EXPECT_EQ(1u, Occurrences(dom.out, "<h3>User 12</h3>"));
	EXPECT_EQ(1u, Occurrences(dom.out, "<h3>User 13</h3>"));
	EXPECT_EQ(2u, Occurrences(dom.out, "<g class=\"day\" data-day=\"2024-05-01\">"));
	EXPECT_EQ(2u, Occurrences(dom.out, "<g class=\"day\" data-day=\"2024-05-02\">"));
	std::map<std::string, std::string> legend;
	std::vector<std::string> order;
	const std::regex item("<span class=\"item\"><span class=\"swatch\" "
			      "style=\"background:(#[0-9a-f]{6})\"></span>([^<]*)</span>");
	for (std::sregex_iterator i(dom.out.begin(), dom.out.end(), item), end;
	     i != end; ++i) {
		legend[(*i)[2]] = (*i)[1];
		order.push_back((*i)[2]);
	}
	EXPECT_EQ(std::vector<std::string>(
			  {"Coding", "Browser", "Uncategorized", "Mail"}),
		  order);
	std::map<std::string, int> stretches;
	for (const DomSegment &s : Segments(dom.out)) {
		EXPECT_EQ(legend[s.name], s.colour) << s.name;
		++stretches[s.day + " " + s.name];
	}
	// Coding on both days (user 13's stretch split at midnight), Mail
	// before midnight only, Browser after it only.
	EXPECT_EQ((std::map<std::string, int>{{"2024-05-01 Coding", 2},
					       {"2024-05-01 Mail", 1},
					       {"2024-05-02 Browser", 1},
					       {"2024-05-02 Coding", 1},
					       {"2024-05-02 Uncategorized", 1}}),
		  stretches);
}

// Thirteen executables, one with a title of 10,000 characters without a
// space, in a window 1280 pixels wide. The page allows no script, so a
// copy without its policy measures itself in Chromium and writes the
// figures into the DOM: the titles table, figures included, stays on the
// screen. The legend's twelve colours and the grey of "(other)" are at
// least 20 apart in CIELAB (CIE76, by Python from the sRGB values).
TEST(RecordsReport, LongTitleWrapsAndTheColoursStayApart)
{
	TempDir dir;
	std::vector<Row> rows;
	int64_t t = kBase;
	for (int app = 0; app < 13; ++app)
		for (int i = 0; i < 13 - app; ++i, t += 60)
			rows.push_back({7, std::to_string(t - 1), t,
					"app" + std::to_string(100 + app),
					app == 1 ? std::string(10000, 'x') : "short"});
	records_fixture::WriteRecordFile(dir / "1.6.mon.db", kKey, rows);
	const std::string html = dir / "report.html";
	const auto result = records_fixture::RunTool(
		{"report", dir / "1.6.mon.db", "--key", kKey, "--html", html});
	ASSERT_EQ(0, result.status) << result.err;
	std::string page = testing_support::ReadFile(html);
	const std::regex policy("<meta http-equiv=\"Content-Security-Policy\"[^>]*>");
	page = std::regex_replace(page, policy, "");
	page.replace(page.rfind("</body>"), 7,
		     "<script>const t = document.querySelector('table.titles');"
		     "document.body.setAttribute('data-measured', "
		     "Math.round(t.getBoundingClientRect().right) + ' ' + "
		     "document.documentElement.clientWidth);</script></body>");
	testing_support::WriteFile(dir / "measured.html", page);
	const auto dom = Chromium(dir / "profile", {"--window-size=1280,800", "--dump-dom",
						    "file://" + dir / "measured.html"});
	ASSERT_EQ(0, dom.status) << dom.err;
	std::smatch measured;
	ASSERT_TRUE(std::regex_search(dom.out, measured,
				      std::regex("data-measured=\"([0-9]+) ([0-9]+)\"")))
		<< dom.out.substr(0, 2000);
	EXPECT_LE(std::stoi(measured[1]), std::stoi(measured[2]));
	EXPECT_GT(std::stoi(measured[2]), 1000);

	std::string colours;
	const std::regex swatch("<span class=\"item\"><span class=\"swatch\" "
				"style=\"background:(#[0-9a-f]{6})\">");
	for (std::sregex_iterator i(dom.out.begin(), dom.out.end(), swatch), end;
	     i != end; ++i)
		colours += " " + testing_support::ShellQuote((*i)[1].str());
	EXPECT_EQ("13 colours, nearest 23", testing_support::Shell(
		"python3 -c 'import sys, math, itertools\n"
		"def lab(h):\n"
		"    c = [int(h[i:i + 2], 16) / 255 for i in (1, 3, 5)]\n"
		"    r, g, b = [v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4 for v in c]\n"
		"    xyz = ((0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047,\n"
		"           0.2126 * r + 0.7152 * g + 0.0722 * b,\n"
		"           (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883)\n"
		"    f = [t ** (1 / 3) if t > 216 / 24389 else (24389 / 27 * t + 16) / 116 for t in xyz]\n"
		"    return (116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2]))\n"
		"p = sys.argv[1:]\n"
		"d = min(math.dist(lab(a), lab(b)) for a, b in itertools.combinations(p, 2))\n"
		"print(len(p), \"colours, nearest\", int(d) if d >= 20 else d, end=\"\")'" +
		colours));
}

} // namespace
