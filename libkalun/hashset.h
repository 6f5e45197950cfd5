// The set of pending request tags of a connection: a chained hash set of
// 64-bit keys that doubles its buckets as it fills and never shrinks.
#pragma once

#include <cstddef>
#include <cstdint>

struct kalun_hashset;

// 0 or an errno value; buckets must be a power of two.
int kalun_hashset_create(size_t buckets, kalun_hashset **out);
void kalun_hashset_destroy(kalun_hashset *set);
// 0, EINVAL, EEXIST or ENOMEM.
int kalun_hashset_insert(kalun_hashset *set, uint64_t key);
// 0, EINVAL or ENODATA.
int kalun_hashset_remove(kalun_hashset *set, uint64_t key);
// A new array (free()) of every key, bucket by bucket in list order.
int kalun_hashset_list(const kalun_hashset *set, uint64_t **keys, size_t *count);
size_t kalun_hashset_size(const kalun_hashset *set);
size_t kalun_hashset_buckets(const kalun_hashset *set);
