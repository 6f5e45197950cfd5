// Side-by-side timing for benchmarks whose figure is a ratio. Two
// benchmarks run one after the other on a shared machine see different
// loads, so a ratio taken across them swings widely; here the sides take
// turns job by job in one process (the order rotates every round so that
// no side always runs warm behind another), and what is reported is the
// median of the per-round ratios with its 10th and 90th percentiles.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench
{

struct Side {
	std::string name;
	std::function<void()> run;
};

inline double percentile(std::vector<double> values, double fraction)
{
	if (values.empty())
		return 0;
	const size_t at = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
	std::nth_element(values.begin(), values.begin() + at, values.end());
	return values[at];
}

// One round per benchmark iteration: every side once, each timed alone.
// Counters: "<side>_us" (median time of a run) for every side and, for
// every side after the first, "<first>/<side>" (median ratio of the
// first side's time to that side's within a round) with "_p10" and "_p90".
// The iteration time is the first side's.
inline void runPaired(benchmark::State &state, const std::vector<Side> &sides, int warmup = 20)
{
	using Clock = std::chrono::steady_clock;
	for (int i = 0; i < warmup; ++i)
		for (const Side &side : sides)
			side.run();
	const size_t n = sides.size();
	std::vector<std::vector<double>> times(n);
	size_t round = 0;
	for (auto _ : state) {
		std::vector<double> t(n);
		for (size_t k = 0; k < n; ++k) {
			const size_t s = (round + k) % n;
			const auto start = Clock::now();
			sides[s].run();
			t[s] = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
		}
		for (size_t s = 0; s < n; ++s)
			times[s].push_back(t[s]);
		state.SetIterationTime(t[0] * 1e-6);
		++round;
	}
	for (size_t s = 0; s < n; ++s)
		state.counters[sides[s].name + "_us"] = percentile(times[s], 0.5);
	for (size_t s = 1; s < n; ++s) {
		std::vector<double> ratios;
		for (size_t r = 0; r < times[0].size(); ++r)
			ratios.push_back(times[0][r] / times[s][r]);
		const std::string key = sides[0].name + "/" + sides[s].name;
		state.counters[key] = percentile(ratios, 0.5);
		state.counters[key + "_p10"] = percentile(ratios, 0.1);
		state.counters[key + "_p90"] = percentile(ratios, 0.9);
	}
}

} // namespace bench
