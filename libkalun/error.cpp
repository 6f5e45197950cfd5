#include "error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static char *format_exact(const char *fmt, va_list ap)
{
	va_list measure;
	va_copy(measure, ap);
	int len = vsnprintf(nullptr, 0, fmt, measure);
	va_end(measure);
	if (len < 0)
		return nullptr;

	char *text = static_cast<char *>(malloc(static_cast<size_t>(len) + 1));
	if (!text)
		return nullptr;
	if (vsnprintf(text, static_cast<size_t>(len) + 1, fmt, ap) != len) {
		free(text);
		return nullptr;
	}
	return text;
}

static kalunError *error_new_v(int code, const char *fmt, va_list ap)
{
	char *text = format_exact(fmt, ap);
	if (!text)
		return nullptr;

	auto *err = static_cast<kalunError *>(malloc(sizeof(kalunError)));
	if (!err) {
		free(text);
		return nullptr;
	}
	err->code = code;
	err->msg = text;
	return err;
}

kalunError *kalun_error_new(int code, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	kalunError *err = error_new_v(code, fmt, ap);
	va_end(ap);
	return err;
}

void kalun_error_set(kalunError **error, int code, const char *fmt, ...)
{
	if (!error)
		return;

	// A record left by an inner step is replaced, not leaked.
	kalunClearError(error);
	va_list ap;
	va_start(ap, fmt);
	*error = error_new_v(code, fmt, ap);
	va_end(ap);
}

void kalun_error_prefix(kalunError **error, const char *fmt, ...)
{
	if (!error || !*error)
		return;

	va_list ap;
	va_start(ap, fmt);
	char *prefix = format_exact(fmt, ap);
	va_end(ap);
	if (!prefix)
		return;

	kalunError *err = *error;
	size_t prefix_len = strlen(prefix);
	size_t old_len = err->msg ? strlen(err->msg) : 0;
	char *text = static_cast<char *>(malloc(prefix_len + old_len + 1));
	if (!text) {
		free(prefix);
		return;
	}
	memcpy(text, prefix, prefix_len);
	if (old_len)
		memcpy(text + prefix_len, err->msg, old_len);
	text[prefix_len + old_len] = '\0';
	free(prefix);
	free(err->msg);
	err->msg = text;
}

void kalunClearError(kalunError **error)
{
	if (!error || !*error)
		return;
	free((*error)->msg);
	free(*error);
	*error = nullptr;
}
