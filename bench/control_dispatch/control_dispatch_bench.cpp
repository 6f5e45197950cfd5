// Cost of the control engine per step call: records of one type dispatched
// to N consuming steps that do nothing, beside the same step functions called
// in a plain loop. Counters report nanoseconds per record per step.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/control.h"
#include "platform/platform_vorsalind.h"

namespace
{

int empty_run(algo_step *step, control *)
{
	benchmark::DoNotOptimize(step);
	return 0;
}

struct prodconf_stub {
	int unused;
} conf_stub;

void BM_Dispatch(benchmark::State &state)
{
	const int steps = (int)state.range(0);
	platform *p = platform_vorsalind_create(nullptr, reinterpret_cast<prodconf *>(&conf_stub), 1);
	control *engine = control_new(p);
	algo_group *group = algo_group_create(nullptr);
	for (int i = 0; i < steps; i++) {
		algo_step *s = algo_step_create(nullptr, empty_run, nullptr, nullptr);
		algo_step_add_input(s, 42);
		algo_group_insert(group, s);
	}
	control_add_group(engine, group);
	control_job job = {};
	job.type = 42;
	job.stream_id = -1;
	for (auto _ : state)
		control_dispatch(engine, &job);
	state.counters["ns_per_record_step"] = benchmark::Counter(
	    (double)state.iterations() * steps, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
	control_stop(engine);
	control_free(engine);
	platform_destroy(p);
}

void BM_PlainLoop(benchmark::State &state)
{
	const int steps = (int)state.range(0);
	std::vector<algo_step *> list;
	for (int i = 0; i < steps; i++)
		list.push_back(algo_step_create(nullptr, empty_run, nullptr, nullptr));
	algo_step_fn volatile run = empty_run;
	for (auto _ : state)
		for (algo_step *s : list)
			run(s, nullptr);
	state.counters["ns_per_record_step"] = benchmark::Counter(
	    (double)state.iterations() * steps, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
	for (algo_step *s : list)
		algo_step_destroy(s, nullptr);
}

} // namespace

BENCHMARK(BM_Dispatch)->Arg(1)->Arg(10)->Arg(50);
BENCHMARK(BM_PlainLoop)->Arg(1)->Arg(10)->Arg(50);
BENCHMARK_MAIN();
