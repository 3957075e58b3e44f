#pragma once
#include <functional>
#include <nlohmann/json.hpp>

#include "Core/multi_process_stream.h"
#include "Serialization/registry.h"

namespace tarvex {

using json_document = nlohmann::ordered_json;
// (document or stream, pointer to a std::shared_ptr<const C> holder, read?)
using json_serializer = std::function<void(json_document&, void*, bool)>;
using binary_serializer = std::function<void(multi_process_stream&, void*, bool)>;

Registry<json_serializer>& JsonSerializationRegistry();
Registry<binary_serializer>& BinarySerializationRegistry();

}  // namespace tarvex
