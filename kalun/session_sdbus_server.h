// A session's object on the system bus: "/com/tovi/Kalun1/Session/<id>"
// with the interface com.tovi.Kalun1.Session, and an object manager of its
// own at the same path.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "kalun/sdbus/bus.h"

namespace kalun
{

// "(iitatats)": data type, layout, byte size, dims, pitches, name.
using TensorMetadataTuple =
    std::tuple<int32_t, int32_t, uint64_t, std::vector<uint64_t>, std::vector<uint64_t>, std::string>;
// "(tttisa(iitatats)a(iitatats))": model size, model id, unit index, access,
// name, inputs, outputs.
using ModelTuple = std::tuple<uint64_t, uint64_t, uint64_t, int32_t, std::string,
                              std::vector<TensorMetadataTuple>, std::vector<TensorMetadataTuple>>;

class SessionSdbusServer
{
      public:
	static constexpr const char *kInterface = "com.tovi.Kalun1.Session";

	using SessionIdFunction = std::function<uint64_t()>;
	using ModelsFunction = std::function<std::vector<ModelTuple>()>;

	// Registers the interface with both getters attached and announces the
	// object, so that the announcement already carries the session's values;
	// then adds the object manager.
	SessionSdbusServer(sd_bus *bus, std::string path, SessionIdFunction sessionId, ModelsFunction models);
	~SessionSdbusServer();
	SessionSdbusServer(const SessionSdbusServer &) = delete;
	SessionSdbusServer &operator=(const SessionSdbusServer &) = delete;

	const std::string &path() const
	{
		return path_;
	}
	uint64_t sessionId() const;
	std::vector<ModelTuple> models() const;

      private:
	std::string path_;
	SessionIdFunction sessionId_;
	ModelsFunction models_;
	std::unique_ptr<sdbus::Object> object_;
	sdbus::SlotPtr objectManager_;
};

} // namespace kalun
