// The value cipher against the openssl command, and the reading back of
// stored values.
#include <gtest/gtest.h>

#include <util/base.h>

#include "store/value-cipher.h"
#include "tests/store/store-testing.h"
#include "tests/support/log-capture.h"
#include "tests/support/test-support.h"

using store_testing::Hex;
using testing_support::LogCapture;
using testing_support::Shell;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kKey = "0123456789abcdef";

// What `openssl enc -aes-128-cbc -K <key> -iv <iv> -base64 -A` makes of
// `input`.
std::string OpensslEncrypt(const std::string &input, const std::string &key,
			   const std::string &iv)
{
	TempDir dir;
	WriteFile(dir / "in", input);
	return Shell("openssl enc -aes-128-cbc -K " + Hex(key.substr(0, 16)) +
		     " -iv " + Hex(iv.substr(0, 16)) + " -base64 -A -in '" +
		     (dir / "in") + "'");
}

std::string Encrypt(const std::string &input, const std::string &key = kKey,
		    const std::string &iv = kKey)
{
	std::string output;
	EXPECT_EQ(EncryptText(iv, key, input, output, 1), 0) << input;
	return output;
}

} // namespace

TEST(ValueCipher, MatchesOpensslCommandForEveryLength)
{
	const struct {
		std::string input;
		size_t length; // base64 characters
	} cases[] = {
		{"", 24},
		{"0", 24},
		{"1700000000-abcd", 24},
		{"chromium.exe-123", 44},
		{std::string(447, '\xe6'), 600},
		{std::string(1024, 'x'), 1388},
		{std::string(2000, '\0'), 2688},
	};
	for (const auto &c : cases) {
		const std::string expected = OpensslEncrypt(c.input, kKey, kKey);
		const std::string actual = Encrypt(c.input);
		EXPECT_EQ(actual, expected) << "length " << c.input.size();
		EXPECT_EQ(actual.size(), c.length);
		EXPECT_EQ(actual.find_first_of("\r\n"), std::string::npos);
	}
}

TEST(ValueCipher, UsesFirstSixteenBytesOfKeyAndIvInTheirOwnRoles)
{
	const std::string key = "K0K1K2K3K4K5K6K7-ignored";
	const std::string iv = "iv-iv-iv-iv-iv-i-ignored";
	EXPECT_EQ(Encrypt("notepad.exe", key, iv),
		  OpensslEncrypt("notepad.exe", key, iv));
}

TEST(ValueCipher, ShortKeyFailsWithLogLineAndLeavesOutputUnchanged)
{
	LogCapture logs;
	const struct {
		std::string key, iv;
	} cases[] = {{"short", kKey}, {kKey, "fifteen bytes.."}, {"", ""}};
	for (const auto &c : cases) {
		std::string output = "unchanged";
		EXPECT_EQ(EncryptText(c.iv, c.key, "1700000000", output, 1), -1);
		EXPECT_EQ(output, "unchanged");
	}
	const auto lines = logs.Texts(LOG_ERROR);
	ASSERT_EQ(lines.size(), 3u);
	EXPECT_EQ(lines[0], "EVP_CipherUpdate and EVP_CipherFinal_ex failed, "
			    "cipherText( 1700000000 )");
}

TEST(ValueCipher, DecryptReadsWhatOpensslWrote)
{
	const std::vector<std::string> plains = {"", "0", "firefox-esr",
						  "0123456789abcdef",
						  std::string(447, 'p')};
	for (const std::string &plain : plains) {
		std::string output = "stale";
		EXPECT_EQ(DecryptText(kKey, kKey, OpensslEncrypt(plain, kKey, kKey),
				      output),
			  DecryptStatus::Ok);
		EXPECT_EQ(output, plain);
	}
}

TEST(ValueCipher, DecryptRejectsMalformedText)
{
	const std::string good = OpensslEncrypt("firefox-esr", kKey, kKey);
	const struct {
		std::string text;
		DecryptStatus status;
	} cases[] = {
		{"", DecryptStatus::BadLength},
		{good.substr(1), DecryptStatus::BadBase64},
		{good + "\n", DecryptStatus::BadBase64},
		{" " + good.substr(1), DecryptStatus::BadBase64},
		{good.substr(0, 20) + "!" + good.substr(21), DecryptStatus::BadBase64},
		{"QUJD=QUJ", DecryptStatus::BadBase64},
		{"====", DecryptStatus::BadBase64},
		{"QUJ=", DecryptStatus::BadBase64},   // unused bits not zero
		{"QUJD", DecryptStatus::BadLength},   // 3 bytes
		{"AAAAAAAAAAAAAAAAAAAAAAAAAAA=", DecryptStatus::BadLength},
		{good + good.substr(0, 20) + "QUJD", DecryptStatus::BadBase64},
	};
	for (const auto &c : cases) {
		std::string output = "unchanged";
		EXPECT_EQ(DecryptText(kKey, kKey, c.text, output), c.status)
			<< c.text;
		EXPECT_EQ(output, "unchanged");
	}
}

TEST(ValueCipher, DecryptWithWrongKeyReportsBadPadding)
{
	const std::string text = OpensslEncrypt("firefox-esr", kKey, kKey);
	std::string output = "unchanged";
	EXPECT_EQ(DecryptText("fedcba9876543210", "fedcba9876543210", text, output),
		  DecryptStatus::BadPadding);
	EXPECT_EQ(DecryptText("short", "short", text, output),
		  DecryptStatus::BadPadding);
	EXPECT_EQ(output, "unchanged");
}
