#pragma once
// AES-128-CBC with PKCS#7 padding, base64 (one line) for the stored values.
#include <string>

// Encrypts (direction 1) `input` under the first 16 bytes of `key` and `iv`
// and puts the base64 text of the ciphertext into `output`. Returns 0, or -1
// (output unchanged) when the cipher produced nothing.
int EncryptText(const std::string &iv, const std::string &key,
		const std::string &input, std::string &output, int direction);

enum class DecryptStatus { Ok, BadBase64, BadLength, BadPadding };

// The inverse of EncryptText for reading records back: base64-decodes
// `base64_text`, decrypts it and checks the padding (a wrong key shows as
// BadPadding). `output` is set only on Ok.
DecryptStatus DecryptText(const std::string &iv, const std::string &key,
			  const std::string &base64_text, std::string &output);
