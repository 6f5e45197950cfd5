#include "kalun/messages.h"

#include "kalun/backend_unit.h"
#include "kalun/log.h"

namespace kalun
{

namespace
{

// A sender that raises must not take the worker thread down with it.
template <typename F> void guardedSend(const char *what, F &&send)
{
	try {
		send();
	} catch (const std::exception &e) {
		log::error(std::string("Could not send ") + what + " result: " + e.what());
	} catch (...) {
		log::error(std::string("Could not send ") + what + " result: unknown error");
	}
}

} // namespace

Msg::Msg(std::weak_ptr<SessionInterface> session)
    : session_(std::move(session)), creationTime_(std::chrono::steady_clock::now())
{
}

Msg::~Msg() = default;

uint64_t Msg::getSessionId() const
{
	auto session = lockSession();
	if (!session)
		throw SessionExpired();
	return session->getId();
}

void Msg::setError(std::exception_ptr error)
{
	if (!error_)
		error_ = std::move(error);
}

LoadModelRequest::LoadModelRequest(std::weak_ptr<SessionInterface> session, BackEndUnit &unit,
                                   uint64_t callerId, uint64_t unitIndex, std::vector<uint8_t> modelData,
                                   int32_t access, std::string name, uint64_t clientTag, ParameterMap params)
    : AsyncMsg(std::move(session)), callerId_(callerId), unitIndex_(unitIndex),
      modelData_(std::move(modelData)), access_(access), name_(std::move(name)), clientTag_(clientTag),
      params_(std::move(params)), unit_(unit)
{
}

void LoadModelRequest::setTensorMetadata(std::vector<TensorMetadata> inputs,
                                         std::vector<TensorMetadata> outputs)
{
	if (inputs.empty() || outputs.empty())
		throw std::invalid_argument("Tensor metadata are empty");
	inputs_ = std::move(inputs);
	outputs_ = std::move(outputs);
}

void LoadModelRequest::sendResult()
{
	unit_.commitLoadModel(*this);
	if (auto session = lockSession()) {
		guardedSend("load model", [&] { session->sendLoadModelResult(*this); });
		return;
	}
	log::warning("Could not send load model result: Session has expired");
	if (access_ != kModelAccessPrivate || hasError())
		return;
	// Nobody can reach a private model of a closed session any more.
	try {
		unit_.deleteModel(callerId_, modelId_);
	} catch (const std::exception &e) {
		log::error("Could not delete orphaned model " + std::to_string(modelId_) + ": " + e.what());
	}
}

DeleteModelRequest::DeleteModelRequest(std::weak_ptr<SessionInterface> session, BackEndUnit &unit,
                                       uint64_t callerId, uint64_t modelId, uint64_t unitIndex,
                                       uint64_t clientTag)
    : AsyncMsg(std::move(session)), callerId_(callerId), modelId_(modelId), unitIndex_(unitIndex),
      clientTag_(clientTag), unit_(unit)
{
}

void DeleteModelRequest::sendResult()
{
	unit_.commitDeleteModel(*this);
	if (auto session = lockSession()) {
		guardedSend("delete model", [&] { session->sendDeleteModelResult(*this); });
		return;
	}
	log::info("Could not send delete model result: Session has expired");
}

JobRequest::JobRequest(std::weak_ptr<SessionInterface> session, uint64_t modelId, std::vector<Tensor> inputs,
                       std::vector<Tensor> outputs, uint8_t priority, uint64_t clientTag, ParameterMap params)
    : AsyncMsg(std::move(session)), modelId_(modelId), inputs_(std::move(inputs)),
      outputs_(std::move(outputs)), priority_(priority), clientTag_(clientTag), params_(std::move(params))
{
}

void JobRequest::sendResult()
{
	if (auto session = lockSession()) {
		guardedSend("job", [&] { session->sendJobResult(*this); });
		return;
	}
	log::warning("Could not send job result: Session has expired");
}

JobOrder::JobOrder(std::weak_ptr<SessionInterface> session, uint64_t unitIndex)
    : Msg(std::move(session)), unitIndex_(unitIndex)
{
}

std::shared_ptr<JobRequest> JobOrder::getJobRequest() const
{
	auto session = lockSession();
	if (!session)
		throw SessionExpired();
	return session->popJobRequest(unitIndex_);
}

} // namespace kalun
