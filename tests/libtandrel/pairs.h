// Key-value pairs of an a{ss} dictionary, as the tests compare them.
#pragma once

#include <glib.h>

#include <ostream>
#include <string>
#include <vector>

struct Pair {
	std::string key;
	std::string value;
	bool operator==(const Pair &o) const
	{
		return key == o.key && value == o.value;
	}
};

inline void PrintTo(const Pair &p, std::ostream *os)
{
	*os << "(" << p.key << ", " << p.value << ")";
}

using Pairs = std::vector<Pair>;

inline Pairs pairsOf(GVariant *dict)
{
	Pairs out;
	GVariantIter it;
	const char *k;
	const char *v;

	g_variant_iter_init(&it, dict);
	while (g_variant_iter_next(&it, "{&s&s}", &k, &v))
		out.push_back({k, v});
	return out;
}
