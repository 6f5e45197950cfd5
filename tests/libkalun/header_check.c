/* The public header as a C program of the first interface sees it. */
#define KALUN_API_VERSION 1
#include "libkalun.h"

#include <stddef.h>

int libkalun_c_header_check(void);

int libkalun_c_header_check(void)
{
	kalunError *error = NULL;
	kalunConnection *conn = NULL;
	/* Under the first interface the load call takes no device and no map. */
	kalunModel *(*load)(kalunConnection *, int, int32_t, const char *, kalunError **) = kalunLoadModel;
	void (*destroy)(kalunTensor ***, size_t) = kalunDestroyTensors;
	int ok = load != NULL && destroy != NULL;
	ok = ok && !kalunConnect(NULL, &error) && error && error->code == 22;
	kalunClearError(&error);
	ok = ok && kalunDisconnect(&conn, NULL);
	return ok;
}
