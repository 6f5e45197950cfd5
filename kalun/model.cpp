#include "kalun/model.h"

#include <flatbuffers/flatbuffers.h>

#include <stdexcept>

namespace kalun
{

namespace
{

void checkTensors(const std::vector<TensorMetadata> &tensors, const char *side)
{
	if (tensors.empty())
		throw std::invalid_argument(std::string(side) + " tensor metadata are empty");
	for (size_t i = 0; i < tensors.size(); ++i)
		if (tensors[i].getByteSize() == 0)
			throw std::invalid_argument(std::string(side) + " tensor metadata " +
			                            std::to_string(i) + " has invalid zero byte size");
}

} // namespace

Model::Model(uint64_t id, std::string name, uint64_t size, int32_t access, std::vector<TensorMetadata> inputs,
             std::vector<TensorMetadata> outputs)
    : id_(id), name_(std::move(name)), size_(size), access_(access), inputs_(std::move(inputs)),
      outputs_(std::move(outputs))
{
	checkTensors(inputs_, "Input");
	checkTensors(outputs_, "Output");
}

const char *accessName(int32_t access)
{
	return access == kModelAccessPublic ? "public" : "private";
}

std::string Model::toString() const
{
	return std::to_string(id_) + " " + name_ + " " + std::to_string(size_) + " " + accessName(access_);
}

const container::ModelContainer *verifyModelContainer(ConstByteSpan bytes, int32_t minVersion)
{
	if (bytes.size() <= 4)
		return nullptr;
	const uint32_t root = flatbuffers::ReadScalar<uint32_t>(bytes.data());
	if (static_cast<int32_t>(root) <= 0 || root > bytes.size() - 1)
		return nullptr;
	flatbuffers::Verifier::Options options;
	options.max_depth = 64;
	options.max_tables = 1000000;
	options.check_alignment = true;
	flatbuffers::Verifier verifier(bytes.data(), bytes.size(), options);
	if (!container::VerifyModelContainerBuffer(verifier))
		return nullptr;
	const container::ModelContainer *modelContainer = container::GetModelContainer(bytes.data());
	const int32_t version = modelContainer->format_version();
	if (version < minVersion)
		throw std::invalid_argument("Model has format version " + std::to_string(version) +
		                            " but chip requires >= " + std::to_string(minVersion));
	return modelContainer;
}

} // namespace kalun
