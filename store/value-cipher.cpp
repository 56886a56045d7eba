#include "store/value-cipher.h"

#include <climits>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <util/base.h>

namespace {

constexpr size_t kKeyLength = 16;

struct CipherRun {
	int total = 0;            // bytes written into the working area
	bool finished = false;    // EVP_CipherFinal_ex succeeded (padding ok)
};

// One pass of AES-128-CBC over `input` into `area`, which is sized from the
// input so that no input can write past it. A key or IV shorter than 16
// bytes, or an input too long for the library's int lengths, is not handed
// to the library at all (it would read past the text); the run then makes
// nothing, which the callers report as a failure.
CipherRun RunCipher(const std::string &iv, const std::string &key,
		    const std::string &input, int direction,
		    std::vector<unsigned char> &area)
{
	CipherRun run;
	area.assign(input.size() + EVP_MAX_BLOCK_LENGTH, 0);
	if (iv.size() < kKeyLength || key.size() < kKeyLength ||
	    input.size() > static_cast<size_t>(INT_MAX - EVP_MAX_BLOCK_LENGTH))
		return run;
	EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
	if (!ctx)
		return run;

	EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, nullptr, nullptr,
			  direction);
	OPENSSL_assert(EVP_CIPHER_CTX_key_length(ctx) == 16);
	OPENSSL_assert(EVP_CIPHER_CTX_iv_length(ctx) == 16);
	EVP_CipherInit_ex(ctx, nullptr, nullptr,
			  reinterpret_cast<const unsigned char *>(key.data()),
			  reinterpret_cast<const unsigned char *>(iv.data()),
			  direction);

	int update_length = 0;
	int final_length = 0;
	EVP_CipherUpdate(ctx, area.data(), &update_length,
			 reinterpret_cast<const unsigned char *>(input.data()),
			 static_cast<int>(input.size()));
	run.finished = EVP_CipherFinal_ex(ctx, area.data() + update_length,
					  &final_length) == 1;
	EVP_CIPHER_CTX_free(ctx);
	run.total = update_length + final_length;
	return run;
}

int Base64Value(char c)
{
	if (c >= 'A' && c <= 'Z')
		return c - 'A';
	if (c >= 'a' && c <= 'z')
		return c - 'a' + 26;
	if (c >= '0' && c <= '9')
		return c - '0' + 52;
	if (c == '+')
		return 62;
	if (c == '/')
		return 63;
	return -1;
}

// Standard base64 as EVP_EncodeBlock writes it and nothing else: whole
// quartets, no white space, "=" only as the last one or two characters, and
// the unused bits before the padding zero.
bool DecodeBase64Strictly(const std::string &text, std::string &bytes)
{
	if (text.size() % 4 != 0)
		return false;
	size_t padding = 0;
	if (!text.empty() && text.back() == '=')
		padding = text[text.size() - 2] == '=' ? 2 : 1;
	const size_t data_chars = text.size() - padding;
	uint32_t bits = 0;
	int bit_count = 0;
	for (size_t i = 0; i < data_chars; ++i) {
		const int value = Base64Value(text[i]);
		if (value < 0)
			return false;
		bits = (bits << 6) | static_cast<uint32_t>(value);
		bit_count += 6;
		if (bit_count >= 8) {
			bit_count -= 8;
			bytes.push_back(static_cast<char>((bits >> bit_count) & 0xff));
		}
	}
	return (bits & ((1u << bit_count) - 1)) == 0;
}

} // namespace

int EncryptText(const std::string &iv, const std::string &key,
		const std::string &input, std::string &output, int direction)
{
	std::vector<unsigned char> area;
	const int total = RunCipher(iv, key, input, direction, area).total;
	if (total == 0) {
		blog(LOG_ERROR,
		     "EVP_CipherUpdate and EVP_CipherFinal_ex failed, cipherText( %s )",
		     input.c_str());
		return -1;
	}
	// One extra byte for the terminator that EVP_EncodeBlock writes.
	std::string encoded(4 * (total / 3) + 4 + 1, '\0');
	const int length = EVP_EncodeBlock(
		reinterpret_cast<unsigned char *>(&encoded[0]), area.data(), total);
	encoded.resize(static_cast<size_t>(length));
	output = std::move(encoded);
	return 0;
}

DecryptStatus DecryptText(const std::string &iv, const std::string &key,
			  const std::string &base64_text, std::string &output)
{
	std::string ciphertext;
	if (!DecodeBase64Strictly(base64_text, ciphertext))
		return DecryptStatus::BadBase64;
	if (ciphertext.empty() || ciphertext.size() % 16 != 0)
		return DecryptStatus::BadLength;

	std::vector<unsigned char> area;
	const CipherRun run = RunCipher(iv, key, ciphertext, 0, area);
	// A short key or IV cannot be the key the text was made with.
	if (!run.finished)
		return DecryptStatus::BadPadding;
	output.assign(reinterpret_cast<const char *>(area.data()),
		      static_cast<size_t>(run.total));
	return DecryptStatus::Ok;
}
