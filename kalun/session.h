// The service's end of one client connection: two private peer-to-peer
// buses on socket pairs (requests arrive on one, answers leave on the
// other), the thread that reads the requests, the session's pending jobs
// per unit, the private models it loaded and the buffers it keeps for the
// client under tensor ids.
//
// Always owned through a shared pointer: the requests it queues at the units
// refer to it weakly, so it may go away while they are still queued.
//
// Threads: the service's thread constructs it, reads its models and stops
// it; the bus thread alone reads the request channel, runs the request
// handlers and touches the saved buffers and the handshake flag; the units'
// workers send results and take pending jobs. busMutex_ serialises every
// message on the result channel.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "kalun/backend_unit.h"
#include "kalun/block_recycler.h"
#include "kalun/file_descriptor.h"
#include "kalun/messages.h"
#include "kalun/parameter_map.h"
#include "kalun/result_codes.h"
#include "kalun/sdbus/bus.h"
#include "kalun/sdbus/message.h"
#include "kalun/session_interface.h"
#include "kalun/session_sdbus_server.h"
#include "kalun/tensor.h"

namespace kalun
{

class Session : public SessionInterface, public std::enable_shared_from_this<Session>
{
      public:
	// A result could not be sent because the client's end is gone.
	class ConnectionError : public std::runtime_error
	{
	      public:
		using std::runtime_error::runtime_error;
	};
	// Reported with result code 75; nothing in the service raises it today.
	class TypeSizeOverflow : public std::runtime_error
	{
	      public:
		using std::runtime_error::runtime_error;
	};

	using UnitList = std::vector<std::unique_ptr<BackEndUnit>>;
	// "(iitatathtxtu)": data type, layout, byte size, dims, pitches, fd, fd
	// size, offset, tensor id (0: not tracked), fd properties.
	using TensorTuple =
	    std::tuple<int32_t, int32_t, uint64_t, std::vector<uint64_t>, std::vector<uint64_t>,
	               sdbus::UnixFd, uint64_t, int64_t, uint64_t, uint32_t>;
	using TensorLists = std::pair<std::vector<Tensor>, std::vector<Tensor>>;
	using BufferList = std::vector<std::shared_ptr<Buffer>>;

	static constexpr size_t kMaxSavedBuffers = 64;
	// Job blocks of each kind kept for reuse: enough for the jobs a client
	// usually has in flight; a burst beyond it uses the general allocator.
	static constexpr size_t kKeptJobBlocks = 16;
	// How long stopping waits for the bus thread before leaving it to end
	// on its own.
	static constexpr std::chrono::seconds kBusThreadStopLimit{5};
	// The tag of the deletions a destroyed session queues for its private
	// models; nobody receives their results.
	static constexpr uint64_t kCleanupTag = 0xdeadbeef;

	// Creates the bus object at objectPath on systemBus, both channels and
	// the bus thread. Raises std::runtime_error; a failed construction does
	// not use up its id. The unit list must outlive the session.
	Session(sd_bus *systemBus, const std::string &objectPath, const UnitList &units);
	~Session() override;
	Session(const Session &) = delete;
	Session &operator=(const Session &) = delete;

	// The id the next session will get.
	static uint64_t getNextId();
	// "sesbusproc<id>", or "sesbusprocX" where the id would not fit the 15
	// characters of a thread name.
	static std::string busThreadName(uint64_t id);

	uint64_t getId() const override
	{
		return id_;
	}
	// (result channel, request channel) client ends; -1 each after the
	// handshake.
	std::pair<int, int> getClientFds() const;
	// Every model loaded on any unit, units in index order.
	std::vector<ModelTuple> getModels() const;
	// Removes the bus object, ends and joins the bus thread. Results of
	// queued work are still sent afterwards. Idempotent.
	void stopBusProcessing();

	void sendLoadModelResult(const LoadModelRequest &request) override;
	void sendDeleteModelResult(const DeleteModelRequest &request) override;
	void sendJobResult(const JobRequest &request) override;
	// The best pending job of the unit; std::out_of_range for an unknown
	// unit index or no pending job.
	std::shared_ptr<JobRequest> popJobRequest(uint64_t unitIndex) override;

	// The work behind the requests. Bus thread only (tests call them on a
	// session whose client stays silent).
	void queueLoadModel(FileDescriptor modelFd, uint64_t size, uint64_t unitIndex, int32_t access,
	                    const std::string &name, uint64_t tag, const ParameterMap &params);
	void queueDeleteModel(uint64_t modelId, uint64_t unitIndex, uint64_t tag);
	// The tuples' dimension and pitch lists move into the tensors.
	TensorLists readTensorMsg(std::vector<TensorTuple> inputs, std::vector<TensorTuple> outputs);
	void queueJob(uint64_t modelId, uint64_t unitIndex, std::vector<Tensor> inputs,
	              std::vector<Tensor> outputs, uint8_t priority, uint64_t tag,
	              const ParameterMap &params);
	std::shared_ptr<Buffer> saveBuffer(std::shared_ptr<Buffer> buffer, uint64_t tensorId);
	BufferList allocTensors(BackEndUnit &unit, uint8_t specifier, uint64_t modelId,
	                        const std::vector<uint64_t> &tensorIds, uint32_t fdProps,
	                        const ParameterMap &params);

	size_t savedBufferCount() const
	{
		return savedBuffers_.size();
	}
	std::shared_ptr<Buffer> savedBuffer(uint64_t tensorId) const;
	// The private models this session loaded on a unit.
	std::unordered_set<uint64_t> privateModels(uint64_t unitIndex) const;

      private:
	// A descriptor on its way to a bus: closed unless a bus took it.
	struct OwnedFd {
		int fd = -1;
		~OwnedFd();
	};
	static sd_bus *createPrivateBus(OwnedFd &fd);
	// Tensor descriptions as the bus carries them.
	static std::vector<TensorMetadataTuple> toTuples(const std::vector<TensorMetadata> &list);

	void processAsyncReadBus();
	void nameThread();
	void dispatch(sdbus::Message &message);
	void refuseRequest(sdbus::Message &message, const std::string &member, const std::string &problem);
	void refuseUnreadable(sdbus::Message &message, const std::string &member,
	                      const std::exception &error);
	void procHandshakeMsg(sdbus::Message &message);
	void procQueueLoadModelMsg(sdbus::Message &message);
	void procDeleteModelMsg(sdbus::Message &message);
	void procQueueJobMsg(sdbus::Message &message);
	void procAllocTensorsMsg(sdbus::Message &message);
	void procDeallocTensorsMsg(sdbus::Message &message);
	ParameterMap readParameterMap(sdbus::Message &message);
	bool endBusThread();
	void closeClientFds();

	template <typename... Ts> void sendMsg(const std::string &member, const Ts &...values);
	// sendMsg for callers that must go on: a lost client is dropped
	// silently, other send failures are logged.
	template <typename... Ts> void send(const std::string &member, const Ts &...values);
	void handleSendMsgError(int result, const std::string &text);
	// A "tis" result written straight to the result channel's socket: one
	// system call and no allocation. False when it must go through the bus
	// library instead (channel not yet running, an earlier failure, a long
	// text). Called with busMutex_ held.
	bool sendTagResultDirect(const char *member, uint64_t tag, int32_t code, const std::string &text);
	uint32_t nextResultSerial();
	void sendTagResult(const char *member, uint64_t tag, int32_t code, const std::string &text);
	void sendLoadModelError(int32_t code, const std::string &message, uint64_t tag);
	void sendJobError(int32_t code, const std::string &message, uint64_t tag);
	void sendAllocTensorsError(int32_t code, const std::string &message, uint64_t tag);
	std::string prefix() const
	{
		return "Session " + idString_ + ": ";
	}

	std::vector<uint8_t> readModel(FileDescriptor &fd, uint64_t size);
	std::shared_ptr<Buffer> makeBuffer(const TensorTuple &tuple);
	std::shared_ptr<Buffer> trackedBuffer(const TensorTuple &tuple);
	std::vector<Tensor> readTensors(std::vector<TensorTuple> &tuples, const char *side);

	std::unique_ptr<SessionSdbusServer> server_;
	sdbus::BusPtr requestBus_;
	std::thread busProcThread_;
	std::atomic<bool> stopRequested_{false};
	FileDescriptor stopFd_;
	bool stopped_ = false;
	// The end of the bus thread, and the reference it keeps to the session
	// when stopping gave up waiting for it.
	std::mutex busThreadMutex_;
	std::condition_variable busThreadEnded_;
	bool busThreadDone_ = false;
	std::shared_ptr<Session> keepAlive_;
	bool handshaked_ = false;
	sdbus::BusPtr resultBus_;
	FileDescriptor resultClientFd_;
	FileDescriptor requestClientFd_;
	// The service reads the client ends while the bus thread may be closing
	// them after a handshake.
	mutable std::mutex clientFdsMutex_;
	std::mutex busMutex_;
	// Under busMutex_: the serial of the last message on the result
	// channel (every message there gets its serial here, whichever way it
	// is written), and whether the bus library's side of the channel is
	// known to have nothing queued, so that direct writes may go between
	// its messages.
	uint32_t resultSerial_ = 0;
	bool resultChannelClean_ = true;
	mutable std::mutex privateModelsMutex_;
	uint64_t id_ = 0;
	std::string idString_;
	const UnitList &units_;
	std::vector<std::unordered_set<uint64_t>> privateModels_;
	std::unordered_map<uint64_t, std::vector<std::shared_ptr<JobRequest>>> jobQueues_;
	std::mutex jobQueuesMutex_;
	std::unordered_map<uint64_t, std::shared_ptr<Buffer>> savedBuffers_;
	// The blocks of each job's request and order, taken back from the job
	// threads for the next job.
	std::shared_ptr<BlockRecycler> jobBlocks_ = std::make_shared<BlockRecycler>(kKeptJobBlocks);
};

} // namespace kalun
