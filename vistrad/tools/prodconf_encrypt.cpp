// vistrad-prodconf-encrypt INPUT.yaml OUTPUT.enc
//
// Encrypts a product configuration the way the daemon reads it, then reads
// the result back through the daemon's own decryption before keeping it.

#include <glib.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "core/prodconf_crypt.h"

namespace
{

int usage(const char *program)
{
	fprintf(stderr, "Usage: %s INPUT.yaml OUTPUT.enc\n", program);
	return 2;
}

bool read_back_matches(const char *path, const char *text, size_t length)
{
	char *plain = nullptr;
	size_t plain_length = 0;
	if (prodconf_read_encrypted_file(path, &plain, &plain_length))
		return false;
	bool same = plain_length == length && memcmp(plain, text, length) == 0;
	g_free(plain);
	return same;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc != 3)
		return usage(argv[0]);
	char *text = nullptr;
	gsize length = 0;
	GError *error = nullptr;
	if (!g_file_get_contents(argv[1], &text, &length, &error)) {
		fprintf(stderr, "%s: %s\n", argv[0], error->message);
		g_error_free(error);
		return 1;
	}
	unsigned char *image = nullptr;
	size_t image_length = 0;
	int status = 1;
	if (prodconf_encrypt_buffer(text, length, &image, &image_length)) {
		fprintf(stderr, "%s: could not encrypt %s\n", argv[0], argv[1]);
	} else if (!g_file_set_contents(argv[2], reinterpret_cast<const char *>(image), (gssize)image_length,
	                                &error)) {
		fprintf(stderr, "%s: %s\n", argv[0], error->message);
		g_error_free(error);
	} else if (!read_back_matches(argv[2], text, length)) {
		fprintf(stderr, "%s: %s does not decrypt to %s, removed\n", argv[0], argv[2], argv[1]);
		unlink(argv[2]);
	} else {
		status = 0;
	}
	g_free(image);
	g_free(text);
	return status;
}
