#pragma once
// AES-128-CBC with PKCS#7 padding, base64 (one line) for the stored values.
#include <string>

// Encrypts (direction 1) `input` under the first 16 bytes of `key` and `iv`
// and puts the base64 text of the ciphertext into `output`. Returns 0, or -1
// (output unchanged) when the cipher produced nothing.
int EncryptText(const std::string &iv, const std::string &key,
		const std::string &input, std::string &output, int direction);

enum class DecryptStatus { Ok, BadBase64, BadLength, BadPadding };

// The inverse of EncryptText for reading records back, set up once for one
// IV and key and then used for every value: in OpenSSL 3 each set-up looks
// the cipher's parameters up by name, and on millions of rows that set-up
// was most of the time.
class ValueCipher {
public:
	// The first 16 bytes of `iv` and `key`; with fewer, no text decrypts.
	ValueCipher(const std::string &iv, const std::string &key);
	~ValueCipher();
	ValueCipher(const ValueCipher &) = delete;
	ValueCipher &operator=(const ValueCipher &) = delete;

	// Base64-decodes `base64_text` (only the form EncryptText writes),
	// decrypts it and checks the padding (a wrong key shows as
	// BadPadding). `output` is set only on Ok.
	DecryptStatus Decrypt(const std::string &base64_text, std::string &output);

private:
	std::string iv_;
	std::string key_;
	struct evp_cipher_ctx_st *ctx_;
	bool ready_ = false;
	std::string bytes_; // the ciphertext of the value being read
	std::string plain_;
};

// One value read with a ValueCipher of its own.
DecryptStatus DecryptText(const std::string &iv, const std::string &key,
			  const std::string &base64_text, std::string &output);
