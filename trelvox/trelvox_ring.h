// The capture ring between the thread that reads the DSP log device and the
// thread that sends it on: positions and the end flag under one lock, and a
// condition for each side, checked under that lock so no wake-up is lost.
#ifndef TRELVOX_RING_H
#define TRELVOX_RING_H

#include <pthread.h>
#include <stdint.h>

struct trelvox_ring {
	uint8_t *buf;
	uint32_t size;
	uint32_t w;
	uint32_t r;
	bool end;
	pthread_mutex_t lock;
	pthread_cond_t space;
	pthread_cond_t data;
	// Called with the lock held when a side has checked its condition and is
	// about to wait (0: for space, 1: for data); null on the device. Tests
	// step the other side from here.
	void (*before_wait)(trelvox_ring *r, int waiting_for_data, void *arg);
	void *before_wait_arg;
};

void trelvox_ring_init(trelvox_ring *r, uint8_t *buf, uint32_t size);
uint32_t trelvox_ring_used_locked(const trelvox_ring *r);
// Waits until more than need bytes are free; gives the write position.
uint32_t trelvox_ring_wait_space(trelvox_ring *r, uint32_t need);
// Makes n bytes written at w visible to the consumer.
void trelvox_ring_produced(trelvox_ring *r, uint32_t w, uint32_t n);
// The producer is done: the consumer ends once the ring is empty.
void trelvox_ring_finish(trelvox_ring *r);
// Waits until the ring holds data or has ended; gives what is there to read,
// where it starts and whether the producer is done.
uint32_t trelvox_ring_wait_data(trelvox_ring *r, uint32_t *at, bool *end);
// Gives back the bytes read up to position at; wakes the producer once more
// than need bytes are free.
void trelvox_ring_consumed(trelvox_ring *r, uint32_t at, uint32_t need);

#endif
