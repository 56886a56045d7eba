// The value cipher over any input of up to 4 KiB: the first 16 bytes are the
// key (a shorter input is a short key), the rest the value. Encryption must
// give the documented length of one-line base64 and decrypt to the value;
// any text handed to the decryption must either be refused or be the one
// canonical encryption of what it decrypts to.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <util/base.h>

#include "store/value-cipher.h"

namespace {

void Silent(int, const char *, va_list, void *) {}

bool IsBase64Line(const std::string &text)
{
	return text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnop"
				      "qrstuvwxyz0123456789+/=") == std::string::npos;
}

void RoundTrip(const std::string &key, const std::string &value)
{
	std::string encrypted = "unchanged";
	const int result = EncryptText(key, key, value, encrypted, 1);
	if (key.size() < 16) {
		if (result != -1 || encrypted != "unchanged")
			std::abort();
		return;
	}
	const size_t cipher_bytes = 16 * (value.size() / 16 + 1);
	if (result != 0 || encrypted.size() != 4 * ((cipher_bytes + 2) / 3) ||
	    !IsBase64Line(encrypted))
		std::abort();
	std::string decrypted;
	if (DecryptText(key, key, encrypted, decrypted) != DecryptStatus::Ok ||
	    decrypted != value)
		std::abort();
}

void DecryptAnything(const std::string &key, const std::string &text)
{
	std::string plain;
	if (DecryptText(key, key, text, plain) != DecryptStatus::Ok)
		return;
	std::string again;
	if (EncryptText(key, key, plain, again, 1) != 0 || again != text)
		std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	base_set_log_handler(Silent, nullptr);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size > 16 + 4096)
		return 0;
	const std::string input(reinterpret_cast<const char *>(data), size);
	const std::string key = input.substr(0, 16);
	const std::string rest = size > 16 ? input.substr(16) : std::string();
	RoundTrip(key, rest);
	if (key.size() == 16)
		DecryptAnything(key, rest);
	return 0;
}
