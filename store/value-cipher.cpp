#include "store/value-cipher.h"

#include <climits>
#include <cstdint>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <util/base.h>

namespace {

constexpr size_t kKeyLength = 16;

// One pass of AES-128-CBC over `input` into `area`, which is sized from the
// input so that no input can write past it; returns the bytes written. A key
// or IV shorter than 16 bytes, or an input too long for the library's int
// lengths, is not handed to the library at all (it would read past the
// text); the run then makes nothing, which the caller reports as a failure.
int RunCipher(const std::string &iv, const std::string &key, const std::string &input,
	      int direction, std::vector<unsigned char> &area)
{
	area.assign(input.size() + EVP_MAX_BLOCK_LENGTH, 0);
	if (iv.size() < kKeyLength || key.size() < kKeyLength ||
	    input.size() > static_cast<size_t>(INT_MAX - EVP_MAX_BLOCK_LENGTH))
		return 0;
	EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
	if (!ctx)
		return 0;

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
	EVP_CipherFinal_ex(ctx, area.data() + update_length, &final_length);
	EVP_CIPHER_CTX_free(ctx);
	return update_length + final_length;
}

// The value of each byte as a base64 digit, -1 for bytes that are none.
struct Base64Digits {
	int8_t value[256];
	constexpr Base64Digits() : value()
	{
		for (int c = 0; c < 256; ++c)
			value[c] = -1;
		const char digits[] =
			"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
		for (int v = 0; v < 64; ++v)
			value[static_cast<unsigned char>(digits[v])] = static_cast<int8_t>(v);
	}
};
constexpr Base64Digits kBase64Digits;

// Standard base64 as EVP_EncodeBlock writes it and nothing else: whole
// quartets, no white space, "=" only as the last one or two characters, and
// the unused bits before the padding zero. Appends the bytes to `bytes`
// (which holds rubbish when the text is refused).
bool DecodeBase64Strictly(const std::string &text, std::string &bytes)
{
	if (text.size() % 4 != 0)
		return false;
	size_t padding = 0;
	if (!text.empty() && text.back() == '=')
		padding = text[text.size() - 2] == '=' ? 2 : 1;
	const size_t data_chars = text.size() - padding;
	const size_t start = bytes.size();
	bytes.resize(start + data_chars * 6 / 8);
	char *out = &bytes[0] + start;
	uint32_t bits = 0;
	int bit_count = 0;
	for (size_t i = 0; i < data_chars; ++i) {
		const int value = kBase64Digits.value[static_cast<unsigned char>(text[i])];
		if (value < 0)
			return false;
		bits = (bits << 6) | static_cast<uint32_t>(value);
		bit_count += 6;
		if (bit_count >= 8) {
			bit_count -= 8;
			*out++ = static_cast<char>((bits >> bit_count) & 0xff);
		}
	}
	return (bits & ((1u << bit_count) - 1)) == 0;
}

} // namespace

int EncryptText(const std::string &iv, const std::string &key,
		const std::string &input, std::string &output, int direction)
{
	std::vector<unsigned char> area;
	const int total = RunCipher(iv, key, input, direction, area);
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

// The blocks are deciphered in ECB mode without padding, so that one context
// serves every value without being set up again; the CBC chaining and the
// PKCS#7 padding are undone here.
ValueCipher::ValueCipher(const std::string &iv, const std::string &key)
	: iv_(iv.substr(0, kKeyLength)), key_(key.substr(0, kKeyLength)),
	  ctx_(EVP_CIPHER_CTX_new())
{
	ready_ = ctx_ && iv_.size() == kKeyLength && key_.size() == kKeyLength &&
		 EVP_DecryptInit_ex(ctx_, EVP_aes_128_ecb(), nullptr,
				    reinterpret_cast<const unsigned char *>(key_.data()),
				    nullptr) == 1 &&
		 EVP_CIPHER_CTX_set_padding(ctx_, 0) == 1;
}

ValueCipher::~ValueCipher()
{
	EVP_CIPHER_CTX_free(ctx_);
}

DecryptStatus ValueCipher::Decrypt(const std::string &base64_text, std::string &output)
{
	bytes_.clear();
	if (!DecodeBase64Strictly(base64_text, bytes_))
		return DecryptStatus::BadBase64;
	if (bytes_.empty() || bytes_.size() % kKeyLength != 0)
		return DecryptStatus::BadLength;
	// A short key or IV cannot be the key the text was made with.
	if (!ready_ || bytes_.size() > static_cast<size_t>(INT_MAX))
		return DecryptStatus::BadPadding;
	const int length = static_cast<int>(bytes_.size());
	plain_.resize(bytes_.size());
	auto *out = reinterpret_cast<unsigned char *>(&plain_[0]);
	int written = 0;
	if (EVP_DecryptUpdate(ctx_, out, &written,
			      reinterpret_cast<const unsigned char *>(bytes_.data()),
			      length) != 1 ||
	    written != length)
		return DecryptStatus::BadPadding;
	// CBC: each block was chained to the ciphertext before it, the first to
	// the IV.
	for (int i = 0; i < length; ++i)
		out[i] ^= static_cast<unsigned char>(i < 16 ? iv_[i] : bytes_[i - 16]);
	const unsigned char pad = out[length - 1];
	if (pad == 0 || pad > kKeyLength)
		return DecryptStatus::BadPadding;
	for (int i = length - pad; i < length; ++i)
		if (out[i] != pad)
			return DecryptStatus::BadPadding;
	output.assign(plain_, 0, static_cast<size_t>(length - pad));
	return DecryptStatus::Ok;
}

DecryptStatus DecryptText(const std::string &iv, const std::string &key,
			  const std::string &base64_text, std::string &output)
{
	return ValueCipher(iv, key).Decrypt(base64_text, output);
}
