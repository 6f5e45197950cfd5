// TensorFlow Lite is not hardened against hostile models: building or
// running one can crash the process that does it. So before a model is
// built inside the service, a helper program builds it from the same bytes,
// allocates its tensors and runs it once on zeroed inputs; a model whose
// trial crashed, hung or failed to run is refused and never built here. Verdicts are kept by the
// model's SHA-256 digest, so a reload is not tried again.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "kalun/span.h"

namespace kalun::backendunit
{

class ModelCheck
{
      public:
	using Digest = std::array<uint8_t, 32>;

	static constexpr const char *kProgramName = "kalun-model-check";
	static constexpr std::chrono::seconds kTimeLimit{30};
	static constexpr size_t kVerdicts = 256;
	// The program's exit status for a model that failed cleanly before it
	// ran: building it here is as safe and reports the failure as usual.
	static constexpr int kDoesNotBuildStatus = 2;

	// The helper beside the running program: installed next to kalun, and
	// placed next to the programs of the build tree.
	static std::string programBesideExecutable();

	explicit ModelCheck(std::string program = programBesideExecutable());

	// Raises std::runtime_error naming why a model is refused.
	void check(ConstByteSpan model);

	static Digest digest(ConstByteSpan bytes);
	// How many trials have been run, for the cache's tests.
	uint64_t trials() const;

      private:
	// "" when the trial ended well, else why not.
	std::string runTrial(ConstByteSpan model) const;

	std::string program_;
	mutable std::mutex mutex_;
	std::deque<std::pair<Digest, std::string>> verdicts_;
	uint64_t trials_ = 0;
};

} // namespace kalun::backendunit
