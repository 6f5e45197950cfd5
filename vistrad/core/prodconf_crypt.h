#pragma once
// The encrypted form of the product configuration: AES-256-CBC of the YAML
// text with PKCS#7 padding, followed by the SHA-256 digest of the text.

#include <stddef.h>
#include <stdint.h>

#define PRODCONF_DIGEST_SIZE 32

// 0 and a newly allocated, null-terminated plain text (g_free), else non-zero.
int prodconf_read_encrypted_file(const char *path, char **text, size_t *length);
// Decrypts in place and strips the padding.
int prodconf_decrypt_buffer(unsigned char *buffer, size_t *length);
int prodconf_decrypt_buffer_guarded(unsigned char *buffer, size_t *length);
int prodconf_verify_digest(const unsigned char *buffer, size_t length, const unsigned char *digest);
// The reverse, for the encryption tool: the whole file image (g_free).
int prodconf_encrypt_buffer(const void *text, size_t length, unsigned char **out, size_t *out_length);
