#include "record_pool.h"

// The list cells move between the two queues with their records, so taking
// and recycling a record allocates nothing once the pool is warm.

void *platform_pool_get(struct record_pool *pool, size_t size)
{
	if (!pool)
		return nullptr;
	GList *link = g_queue_pop_head_link(&pool->free_records);
	if (!link)
		link = g_list_alloc();
	if (!link->data)
		link->data = g_malloc0(size);
	g_queue_push_tail_link(&pool->in_use, link);
	return link->data;
}

void platform_pool_recycle(struct record_pool *pool)
{
	if (!pool || !pool->in_use.head)
		return;
	GQueue *freeq = &pool->free_records;
	GQueue *used = &pool->in_use;
	if (freeq->tail) {
		freeq->tail->next = used->head;
		used->head->prev = freeq->tail;
	} else {
		freeq->head = used->head;
	}
	freeq->tail = used->tail;
	freeq->length += used->length;
	g_queue_init(used);
}

static void free_queue(GQueue *queue, void (*free_record)(void *record))
{
	for (GList *l = queue->head; l; l = l->next) {
		if (free_record)
			free_record(l->data);
		g_free(l->data);
	}
	g_list_free(queue->head);
	g_queue_init(queue);
}

void platform_pool_free(struct record_pool *pool, void (*free_record)(void *record))
{
	if (!pool)
		return;
	free_queue(&pool->free_records, free_record);
	free_queue(&pool->in_use, free_record);
}
