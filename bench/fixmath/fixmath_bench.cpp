// Table interpolation, the daemon's most used fixed-point call (lens, iris
// and curve code), against a plain float binary search with linear
// interpolation over the same curve. Each iteration times one batch of each,
// taking turns, so the counters give both costs per call and their ratio
// from the same moments of a shared machine.
#include <benchmark/benchmark.h>

#include <math.h>
#include <stdint.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "core/fixed_point.h"

namespace
{

constexpr int kQueries = 4096;

struct Curve {
	std::vector<int32_t> xs, ys;
	std::vector<float> fxs, fys;
	std::vector<int32_t> queries;
	std::vector<float> fqueries;
};

// A rising, bending Q14 curve with uneven steps, and queries spread over it
// and a little past both ends.
Curve make_curve(int n)
{
	Curve c;
	int32_t x = 0;
	for (int i = 0; i < n; i++) {
		x += 512 + (i * 37) % 1024;
		c.xs.push_back(x);
		c.ys.push_back((int32_t)lround(sqrt((double)x) * 1024.0));
	}
	for (int i = 0; i < n; i++) {
		c.fxs.push_back((float)c.xs[i] / 16384.0f);
		c.fys.push_back((float)c.ys[i] / 16384.0f);
	}
	uint32_t seed = 12345;
	int64_t span = (int64_t)c.xs.back() - c.xs.front() + 2048;
	for (int i = 0; i < kQueries; i++) {
		seed = seed * 1664525u + 1013904223u;
		int32_t q = (int32_t)(c.xs.front() - 1024 + (int64_t)(seed >> 8) % span);
		c.queries.push_back(q);
		c.fqueries.push_back((float)q / 16384.0f);
	}
	return c;
}

float float_interp(float x, int n, const float *xs, const float *ys)
{
	if (x <= xs[0])
		return ys[0];
	if (x >= xs[n - 1])
		return ys[n - 1];
	int lo = 0, hi = n - 1;
	while (hi - lo > 1) {
		int mid = (lo + hi) / 2;
		if (xs[mid] <= x)
			lo = mid;
		else
			hi = mid;
	}
	return ys[lo] + (x - xs[lo]) * (ys[hi] - ys[lo]) / (xs[hi] - xs[lo]);
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_TableInterp(benchmark::State &state)
{
	const int n = (int)state.range(0);
	Curve c = make_curve(n);
	double fixed_s = 0, float_s = 0;
	for (auto _ : state) {
		auto t0 = std::chrono::steady_clock::now();
		for (int32_t q : c.queries)
			benchmark::DoNotOptimize(fx_table_interp(q, n, c.xs.data(), c.ys.data()));
		double fixed_batch = seconds_since(t0);
		auto t1 = std::chrono::steady_clock::now();
		for (float q : c.fqueries)
			benchmark::DoNotOptimize(float_interp(q, n, c.fxs.data(), c.fys.data()));
		float_s += seconds_since(t1);
		fixed_s += fixed_batch;
		state.SetIterationTime(fixed_batch);
	}
	double calls = (double)state.iterations() * kQueries;
	state.counters["fixed_ns"] = fixed_s * 1e9 / calls;
	state.counters["float_ns"] = float_s * 1e9 / calls;
	state.counters["ratio"] = fixed_s / float_s;
}

} // namespace

BENCHMARK(BM_TableInterp)->Arg(16)->Arg(64)->Arg(1024)->UseManualTime();
BENCHMARK_MAIN();
