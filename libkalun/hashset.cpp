#include "hashset.h"

#include <cerrno>
#include <cstdlib>

namespace
{

struct node {
	uint64_t key;
	node *next;
};

struct bucket {
	node *head;
	node *tail;
	size_t count;
};

} // namespace

struct kalun_hashset {
	bucket *buckets;
	size_t nbuckets;
	size_t nkeys;
};

static size_t bucket_of(const kalun_hashset *set, uint64_t key)
{
	return static_cast<size_t>(key * 0x9e3779b97f4a7c13ULL) & (set->nbuckets - 1);
}

int kalun_hashset_create(size_t buckets, kalun_hashset **out)
{
	if (!out || buckets == 0 || (buckets & (buckets - 1)) != 0)
		return EINVAL;

	auto *set = static_cast<kalun_hashset *>(calloc(1, sizeof(kalun_hashset)));
	if (!set)
		return ENOMEM;
	set->buckets = static_cast<bucket *>(calloc(buckets, sizeof(bucket)));
	if (!set->buckets) {
		free(set);
		return ENOMEM;
	}
	set->nbuckets = buckets;
	*out = set;
	return 0;
}

void kalun_hashset_destroy(kalun_hashset *set)
{
	if (!set)
		return;
	for (size_t i = 0; i < set->nbuckets; i++) {
		node *n = set->buckets[i].head;
		while (n) {
			node *next = n->next;
			free(n);
			n = next;
		}
	}
	free(set->buckets);
	free(set);
}

static bool contains(const kalun_hashset *set, uint64_t key)
{
	for (node *n = set->buckets[bucket_of(set, key)].head; n; n = n->next)
		if (n->key == key)
			return true;
	return false;
}

static int append(kalun_hashset *set, uint64_t key)
{
	auto *n = static_cast<node *>(malloc(sizeof(node)));
	if (!n)
		return ENOMEM;
	n->key = key;
	n->next = nullptr;

	bucket *b = &set->buckets[bucket_of(set, key)];
	if (b->tail)
		b->tail->next = n;
	else
		b->head = n;
	b->tail = n;
	b->count++;
	set->nkeys++;
	return 0;
}

static int grow(kalun_hashset *set)
{
	kalun_hashset *bigger = nullptr;
	int r = kalun_hashset_create(set->nbuckets * 2, &bigger);
	if (r)
		return r;

	for (size_t i = 0; i < set->nbuckets; i++) {
		for (node *n = set->buckets[i].head; n; n = n->next) {
			r = append(bigger, n->key);
			if (r) {
				kalun_hashset_destroy(bigger);
				return r;
			}
		}
	}

	// The caller's handle stays valid: the new contents move into it.
	kalun_hashset old = *set;
	*set = *bigger;
	*bigger = old;
	kalun_hashset_destroy(bigger);
	return 0;
}

int kalun_hashset_insert(kalun_hashset *set, uint64_t key)
{
	if (!set)
		return EINVAL;
	if (contains(set, key))
		return EEXIST;

	float load = static_cast<float>(set->nkeys) / static_cast<float>(set->nbuckets);
	if (load >= 0.75f) {
		int r = grow(set);
		if (r)
			return r;
	}
	return append(set, key);
}

int kalun_hashset_remove(kalun_hashset *set, uint64_t key)
{
	if (!set)
		return EINVAL;

	bucket *b = &set->buckets[bucket_of(set, key)];
	node *prev = nullptr;
	for (node *n = b->head; n; prev = n, n = n->next) {
		if (n->key != key)
			continue;
		if (prev)
			prev->next = n->next;
		else
			b->head = n->next;
		if (b->tail == n)
			b->tail = prev;
		b->count--;
		set->nkeys--;
		free(n);
		return 0;
	}
	return ENODATA;
}

int kalun_hashset_list(const kalun_hashset *set, uint64_t **keys, size_t *count)
{
	if (!set || !keys || !count)
		return EINVAL;

	uint64_t *all = static_cast<uint64_t *>(malloc((set->nkeys ? set->nkeys : 1) * sizeof(uint64_t)));
	if (!all)
		return ENOMEM;
	size_t k = 0;
	for (size_t i = 0; i < set->nbuckets; i++)
		for (node *n = set->buckets[i].head; n; n = n->next)
			all[k++] = n->key;
	*keys = all;
	*count = k;
	return 0;
}

size_t kalun_hashset_size(const kalun_hashset *set)
{
	return set ? set->nkeys : 0;
}

size_t kalun_hashset_buckets(const kalun_hashset *set)
{
	return set ? set->nbuckets : 0;
}
