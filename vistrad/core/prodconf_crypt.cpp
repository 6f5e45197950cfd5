#include "prodconf_crypt.h"

#include <gcrypt.h>
#include <glib.h>
#include <string.h>

#include "prodconf_startup.h"

namespace
{

// The key directly followed by the initialisation vector.
const unsigned char secrets[48] = {
    0x5e, 0x8b, 0x03, 0xc7, 0xa1, 0xd4, 0xf9, 0x26, 0x0b, 0x7e, 0x3c, 0x58, 0xd2, 0xa9, 0xf1, 0x4e,
    0x6c, 0x0b, 0x7d, 0x3a, 0x95, 0x8e, 0x21, 0xf4, 0xc7, 0xa0, 0x6b, 0x3d, 0x9e, 0x52, 0xf8, 0x17,
    0x3d, 0x71, 0xa9, 0xc4, 0xe0, 0x8b, 0x5f, 0x62, 0xd1, 0x9e, 0x7a, 0x34, 0x0c, 0xb8, 0xf5, 0xe3,
};
const size_t key_size = 32;
const size_t block = 16;

bool gcrypt_ready;

bool init_gcrypt()
{
	if (gcrypt_ready)
		return true;
	if (!gcry_check_version(nullptr))
		return false;
	// Someone else in the process may have finished the set-up already.
	if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
		if (gcry_control(GCRYCTL_DISABLE_SECMEM, 0) ||
		    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0))
			return false;
	}
	gcrypt_ready = true;
	return true;
}

int open_cipher(gcry_cipher_hd_t *handle, const char *context_error, const char *key_error)
{
	if (!init_gcrypt()) {
		prodconf_startup_error("Couldn't initialize libgcrypt.\n");
		return -1;
	}
	if (gcry_cipher_open(handle, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0)) {
		prodconf_startup_error("%s", context_error);
		return -1;
	}
	if (gcry_cipher_setkey(*handle, secrets, key_size)) {
		prodconf_startup_error("%s", key_error);
		gcry_cipher_close(*handle);
		return -1;
	}
	if (gcry_cipher_setiv(*handle, secrets + key_size, block)) {
		prodconf_startup_error("Couldn't set iv.\n");
		gcry_cipher_close(*handle);
		return -1;
	}
	return 0;
}

} // namespace

int prodconf_decrypt_buffer(unsigned char *buffer, size_t *length)
{
	if (!buffer || !length)
		return -1;
	gcry_cipher_hd_t handle;
	if (open_cipher(&handle, "Couldn't create context for decryption.\n",
	                "Couldn't set decryption key.\n"))
		return -1;
	int result = -1;
	if (gcry_cipher_decrypt(handle, buffer, *length, nullptr, 0)) {
		prodconf_startup_error("Couldn't decrypt data.\n");
	} else {
		size_t pad = *length ? buffer[*length - 1] : 0;
		bool ok = pad >= 1 && pad <= block && pad <= *length;
		for (size_t i = 0; ok && i < pad; i++)
			ok = buffer[*length - 1 - i] == pad;
		if (ok) {
			*length -= pad;
			result = 0;
		} else {
			prodconf_startup_error("Error removing padding bytes.\n");
		}
	}
	gcry_cipher_close(handle);
	return result;
}

int prodconf_decrypt_buffer_guarded(unsigned char *buffer, size_t *length)
{
	if (!buffer || !length || *length < block)
		return -1;
	return prodconf_decrypt_buffer(buffer, length);
}

int prodconf_verify_digest(const unsigned char *buffer, size_t length, const unsigned char *digest)
{
	if (!buffer || !digest || length < block)
		return -1;
	unsigned char actual[PRODCONF_DIGEST_SIZE];
	gcry_md_hash_buffer(GCRY_MD_SHA256, actual, buffer, length);
	return memcmp(actual, digest, sizeof(actual)) != 0;
}

int prodconf_read_encrypted_file(const char *path, char **text, size_t *length)
{
	if (text)
		*text = nullptr;
	if (length)
		*length = 0;
	if (!path || !text || !length)
		return -1;
	char *data = nullptr;
	gsize size = 0;
	if (!g_file_get_contents(path, &data, &size, nullptr))
		return -1;
	auto *bytes = reinterpret_cast<unsigned char *>(data);
	size_t plain = size >= block + PRODCONF_DIGEST_SIZE ? size - PRODCONF_DIGEST_SIZE : 0;
	if (!plain || prodconf_decrypt_buffer(bytes, &plain)) {
		prodconf_startup_error("Couldn't decrypt data in file.\n");
		g_free(data);
		return -1;
	}
	unsigned char digest[PRODCONF_DIGEST_SIZE];
	gcry_md_hash_buffer(GCRY_MD_SHA256, digest, bytes, plain);
	if (memcmp(digest, bytes + size - PRODCONF_DIGEST_SIZE, sizeof(digest)) != 0) {
		prodconf_startup_error("Couldn't verify decrypted data in file.\n");
		g_free(data);
		return -1;
	}
	bytes[plain] = 0;
	*text = data;
	*length = plain;
	return 0;
}

int prodconf_encrypt_buffer(const void *text, size_t length, unsigned char **out, size_t *out_length)
{
	if (!out || !out_length || (!text && length))
		return -1;
	*out = nullptr;
	*out_length = 0;
	size_t pad = block - length % block;
	size_t cipher_length = length + pad;
	auto *image = static_cast<unsigned char *>(g_malloc(cipher_length + PRODCONF_DIGEST_SIZE));
	if (length)
		memcpy(image, text, length);
	memset(image + length, (int)pad, pad);
	gcry_cipher_hd_t handle;
	if (open_cipher(&handle, "Couldn't create context for encryption.\n",
	                "Couldn't set encryption key.\n")) {
		g_free(image);
		return -1;
	}
	gcry_error_t failed = gcry_cipher_encrypt(handle, image, cipher_length, nullptr, 0);
	gcry_cipher_close(handle);
	if (failed) {
		prodconf_startup_error("Couldn't encrypt data.\n");
		g_free(image);
		return -1;
	}
	gcry_md_hash_buffer(GCRY_MD_SHA256, image + cipher_length, text ? text : "", length);
	*out = image;
	*out_length = cipher_length + PRODCONF_DIGEST_SIZE;
	return 0;
}
