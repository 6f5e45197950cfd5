#include "bramble.h"

#include <pthread.h>

namespace
{

pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
bool registered;
pthread_t mainloop_thread;

} // namespace

extern "C" int command_source_register_mainloop_thread(void)
{
	pthread_mutex_lock(&lock);
	int result = 0;
	if (registered && !pthread_equal(mainloop_thread, pthread_self())) {
		result = -1;
	} else {
		registered = true;
		mainloop_thread = pthread_self();
	}
	pthread_mutex_unlock(&lock);
	return result;
}

extern "C" int bramble_is_mainloop_thread(void)
{
	pthread_mutex_lock(&lock);
	int is = registered && pthread_equal(mainloop_thread, pthread_self());
	pthread_mutex_unlock(&lock);
	return is;
}

extern "C" void bramble_reset(void)
{
	pthread_mutex_lock(&lock);
	registered = false;
	pthread_mutex_unlock(&lock);
}
