#include "trelvox_ring.h"

void trelvox_ring_init(trelvox_ring *r, uint8_t *buf, uint32_t size)
{
	r->buf = buf;
	r->size = size;
	r->w = 0;
	r->r = 0;
	r->end = false;
	pthread_mutex_init(&r->lock, nullptr);
	pthread_cond_init(&r->space, nullptr);
	pthread_cond_init(&r->data, nullptr);
	r->before_wait = nullptr;
	r->before_wait_arg = nullptr;
}

uint32_t trelvox_ring_used_locked(const trelvox_ring *r)
{
	return r->w >= r->r ? r->w - r->r : r->w + r->size - r->r;
}

static uint32_t free_locked(const trelvox_ring *r)
{
	return r->size - trelvox_ring_used_locked(r);
}

static void wait_on(trelvox_ring *r, pthread_cond_t *cond, int waiting_for_data)
{
	if (r->before_wait)
		r->before_wait(r, waiting_for_data, r->before_wait_arg);
	pthread_cond_wait(cond, &r->lock);
}

uint32_t trelvox_ring_wait_space(trelvox_ring *r, uint32_t need)
{
	pthread_mutex_lock(&r->lock);
	while (free_locked(r) <= need)
		wait_on(r, &r->space, 0);
	uint32_t w = r->w;
	pthread_mutex_unlock(&r->lock);
	return w;
}

void trelvox_ring_produced(trelvox_ring *r, uint32_t w, uint32_t n)
{
	pthread_mutex_lock(&r->lock);
	r->w = (w + n) % r->size;
	pthread_cond_signal(&r->data);
	pthread_mutex_unlock(&r->lock);
}

void trelvox_ring_finish(trelvox_ring *r)
{
	pthread_mutex_lock(&r->lock);
	r->end = true;
	pthread_cond_signal(&r->data);
	pthread_mutex_unlock(&r->lock);
}

uint32_t trelvox_ring_wait_data(trelvox_ring *r, uint32_t *at, bool *end)
{
	pthread_mutex_lock(&r->lock);
	while (trelvox_ring_used_locked(r) == 0 && !r->end)
		wait_on(r, &r->data, 1);
	uint32_t avail = trelvox_ring_used_locked(r);
	*at = r->r;
	*end = r->end;
	pthread_mutex_unlock(&r->lock);
	return avail;
}

void trelvox_ring_consumed(trelvox_ring *r, uint32_t at, uint32_t need)
{
	pthread_mutex_lock(&r->lock);
	r->r = at;
	if (free_locked(r) > need)
		pthread_cond_signal(&r->space);
	pthread_mutex_unlock(&r->lock);
}
