#include "tests/tools/records-fixture.h"

#include <cstdio>
#include <map>

#include <gtest/gtest.h>
#include <sys/stat.h>

using testing_support::Shell;

namespace records_fixture {

const char *const kKey = "0123456789abcdef";

std::string OpensslEncrypt(const std::string &key, const std::string &plain)
{
	static std::map<std::pair<std::string, std::string>, std::string> cache;
	auto &known = cache[{key, plain}];
	if (!known.empty())
		return known;
	testing_support::TempDir dir;
	testing_support::WriteFile(dir / "plain", plain);
	std::string text = Shell("openssl enc -aes-128-cbc -K " + Hex(key) +
				 " -iv " + Hex(key) + " -base64 -A -in '" +
				 dir / "plain" + "'");
	while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
		text.pop_back();
	return known = text;
}

namespace {

std::string SqlText(const std::string &text)
{
	return "CAST(X'" + Hex(text) + "' AS TEXT)";
}

} // namespace

void WriteRecordFile(const std::string &path, const std::string &key,
		     const std::vector<Row> &rows)
{
	std::string sql =
		"BEGIN;\n"
		"CREATE TABLE IF NOT EXISTS monitor_detail"
		"(`id` INTEGER PRIMARY KEY AUTOINCREMENT,"
		"`member_id` INTEGER NOT NULL,"
		"`active_tm` VARCHAR(64) NOT NULL,"
		"`check_tm` INTEGER NOT NULL,"
		"`process` TEXT NOT NULL,"
		"`title` VARCHAR(512) NOT NULL);\n";
	for (const Row &row : rows) {
		const std::string active =
			row.raw_active ? row.active_tm
				       : OpensslEncrypt(key, row.active_tm);
		const std::string process =
			row.raw_process ? row.process
					: OpensslEncrypt(key, row.process);
		sql += "INSERT INTO monitor_detail (member_id, active_tm, "
		       "check_tm, process, title) VALUES (" +
		       std::to_string(row.member_id) + ", " + SqlText(active) +
		       ", " + std::to_string(row.check_tm) + ", " +
		       SqlText(process) + ", " + SqlText(row.title) + ");\n";
	}
	sql += "COMMIT;\n";
	testing_support::TempDir dir;
	testing_support::WriteFile(dir / "make.sql", sql);
	Shell("sqlite3 '" + path + "' < '" + dir / "make.sql" + "'");
	ASSERT_TRUE(testing_support::Exists(path)) << path;
}

const char *const kOtherKey = "fedcba9876543210";
const char *const kTeamZone = "TZ=Asia/Shanghai";

void WriteTeamFiles(const std::string &dir)
{
	const std::string folder = dir + "/team";
	auto row = [](int64_t offset, const char *process, const char *title,
		      int64_t idle) {
		const int64_t t = kTeamMidnight + offset;
		return Row{7, std::to_string(t - idle), t, process, title};
	};
	Shell("mkdir -p '" + folder + "/sub'");
	WriteRecordFile(folder + "/12.6.mon.db", kKey,
			{row(-30, "code", "main.cpp", 5),
			 row(-20, "code", "main.cpp", 5),
			 row(-5, "chrome", "Mail", 5), row(0, "chrome", "News", 5),
			 row(10, "xterm", "bash", 300)});
	WriteRecordFile(folder + "/sub/13.6.mon.db", kOtherKey,
			{row(-5, "code", "x.cpp", 1), row(5, "-", "-", 1)});
	testing_support::WriteFile(dir + "/keys", std::string("12 ") + kKey +
							  "\n13 " + kOtherKey);
	testing_support::WriteFile(dir + "/categories",
				   "# kinds of work\nMail\ttitle:Mail\n"
				   "Browser\texe:chrome\nCoding\texe:(code|xterm) \n");
}

void DamageMiddlePage(const std::string &path)
{
	std::FILE *file = std::fopen(path.c_str(), "r+b");
	ASSERT_NE(nullptr, file) << path;
	unsigned char header[18];
	ASSERT_EQ(sizeof(header), std::fread(header, 1, sizeof(header), file));
	// The page size is stored big-endian at offset 16 of the header.
	const long page = header[16] << 8 | header[17];
	std::fseek(file, 0, SEEK_END);
	const long pages = std::ftell(file) / page;
	ASSERT_GE(pages, 8) << "too few pages to damage one in the middle";
	const std::string garbage(static_cast<size_t>(page), '\xff');
	std::fseek(file, pages / 2 * page, SEEK_SET);
	ASSERT_EQ(garbage.size(), std::fwrite(garbage.data(), 1, garbage.size(), file));
	std::fclose(file);
}

testing_support::RunResult RunTool(const std::vector<std::string> &args,
				   std::vector<std::string> env)
{
	std::vector<std::string> argv = {
		testing_support::BinPath("vorlix-records")};
	argv.insert(argv.end(), args.begin(), args.end());
	env.insert(env.begin(), "TZ=UTC");
	return testing_support::Run(argv, env);
}

std::vector<std::vector<std::string>> ParseCsv(const std::string &text)
{
	std::vector<std::vector<std::string>> records;
	std::vector<std::string> fields(1);
	bool quoted = false;
	for (size_t i = 0; i < text.size(); ++i) {
		const char c = text[i];
		if (quoted) {
			if (c != '"')
				fields.back() += c;
			else if (i + 1 < text.size() && text[i + 1] == '"')
				fields.back() += text[++i];
			else
				quoted = false;
		} else if (c == '"') {
			quoted = true;
		} else if (c == ',') {
			fields.emplace_back();
		} else if (c == '\r' && i + 1 < text.size() &&
			   text[i + 1] == '\n') {
			records.push_back(fields);
			fields.assign(1, std::string());
			++i;
		} else {
			fields.back() += c;
		}
	}
	if (fields.size() > 1 || !fields[0].empty())
		records.push_back(fields);
	return records;
}

std::vector<ListedRow> ListWithTool(const std::string &path,
				    const std::string &key)
{
	testing_support::TempDir dir;
	testing_support::WriteFile(dir / "key", key + "\n");
	const auto result = RunTool({"list", path, "--key-file", dir / "key",
				     "--format", "csv"});
	EXPECT_EQ(0, result.status) << result.err;
	std::vector<ListedRow> rows;
	const auto records = ParseCsv(result.out);
	for (size_t i = 1; i < records.size(); ++i) {
		const auto &f = records[i];
		if (f.size() < 12) {
			ADD_FAILURE() << "CSV record " << i << " has "
				      << f.size() << " fields";
			continue;
		}
		ListedRow row;
		row.id = std::stoll(f[0]);
		row.member_id = std::stoll(f[1]);
		row.check_tm = std::stoll(f[2]);
		row.active_tm = f[4];
		row.idle = f[6];
		row.process = f[7];
		row.title = f[8];
		rows.push_back(row);
	}
	return rows;
}

bool FileState::operator==(const FileState &other) const
{
	return exists == other.exists && bytes == other.bytes &&
	       mtime.tv_sec == other.mtime.tv_sec &&
	       mtime.tv_nsec == other.mtime.tv_nsec && folder == other.folder;
}

FileState SnapshotFile(const std::string &path)
{
	FileState state;
	struct stat info;
	state.exists = stat(path.c_str(), &info) == 0;
	if (state.exists) {
		state.mtime = info.st_mtim;
		if (S_ISREG(info.st_mode))
			state.bytes = testing_support::ReadFile(path);
	}
	const size_t slash = path.rfind('/');
	if (slash != std::string::npos)
		state.folder = testing_support::ListDir(path.substr(0, slash));
	return state;
}

} // namespace records_fixture
