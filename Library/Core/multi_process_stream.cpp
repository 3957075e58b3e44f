#include "Core/multi_process_stream.h"

#include <bit>
#include <cstring>

#include "Core/check.h"

namespace tarvex {

static_assert(std::endian::native == std::endian::little, "the binary format is little-endian");

template <class U>
void multi_process_stream::put(U v) {
  const auto old = bytes_.size();
  bytes_.resize(old + sizeof(U));
  std::memcpy(bytes_.data() + old, &v, sizeof(U));
}

template <class U>
U multi_process_stream::get() {
  U v;
  PopBytes(&v, sizeof(U));
  return v;
}

void multi_process_stream::require(std::uint64_t count, std::size_t item_bytes) const {
  const bool fits = item_bytes == 0 || count <= remaining() / item_bytes;
  TARVEX_CHECK_TEXT(fits, source_.empty() ? std::string("binary stream") : source_, ": corrupt or truncated data: ",
                    count, " items of ", item_bytes, " bytes requested with ", remaining(), " bytes left");
}

multi_process_stream& multi_process_stream::operator<<(bool v) { put<std::uint8_t>(v ? 1 : 0); return *this; }
multi_process_stream& multi_process_stream::operator<<(std::int16_t v) { put(v); return *this; }
multi_process_stream& multi_process_stream::operator<<(std::int32_t v) { put(v); return *this; }
multi_process_stream& multi_process_stream::operator<<(std::uint32_t v) { put(v); return *this; }
multi_process_stream& multi_process_stream::operator<<(std::uint64_t v) { put(v); return *this; }
multi_process_stream& multi_process_stream::operator<<(double v) { put(v); return *this; }
multi_process_stream& multi_process_stream::operator<<(const std::string& v) {
  put<std::uint64_t>(v.size());
  PushBytes(v.data(), v.size());
  return *this;
}

multi_process_stream& multi_process_stream::operator>>(bool& v) {
  const auto b = get<std::uint8_t>();
  TARVEX_CHECK_TEXT(b <= 1, source_.empty() ? std::string("binary stream") : source_,
                    ": corrupt data: boolean byte ", static_cast<unsigned>(b));
  v = b == 1;
  return *this;
}
multi_process_stream& multi_process_stream::operator>>(std::int16_t& v) { v = get<std::int16_t>(); return *this; }
multi_process_stream& multi_process_stream::operator>>(std::int32_t& v) { v = get<std::int32_t>(); return *this; }
multi_process_stream& multi_process_stream::operator>>(std::uint32_t& v) { v = get<std::uint32_t>(); return *this; }
multi_process_stream& multi_process_stream::operator>>(std::uint64_t& v) { v = get<std::uint64_t>(); return *this; }
multi_process_stream& multi_process_stream::operator>>(double& v) { v = get<double>(); return *this; }
multi_process_stream& multi_process_stream::operator>>(std::string& v) {
  const auto n = get<std::uint64_t>();
  require(n, 1);
  v.assign(reinterpret_cast<const char*>(bytes_.data() + read_), n);
  read_ += n;
  return *this;
}

void multi_process_stream::Push(const double* data, std::size_t count) { PushBytes(data, count * sizeof(double)); }

void multi_process_stream::Pop(double* data, std::size_t count) {
  require(count, sizeof(double));
  PopBytes(data, count * sizeof(double));
}

void multi_process_stream::PushBytes(const void* data, std::size_t bytes) {
  if (bytes == 0) return;
  const auto old = bytes_.size();
  bytes_.resize(old + bytes);
  std::memcpy(bytes_.data() + old, data, bytes);
}

void multi_process_stream::PopBytes(void* data, std::size_t bytes) {
  require(bytes, 1);
  if (bytes == 0) return;
  std::memcpy(data, bytes_.data() + read_, bytes);
  read_ += bytes;
}

void multi_process_stream::SetRawData(std::vector<unsigned char> bytes) {
  bytes_ = std::move(bytes);
  read_ = 0;
}

}  // namespace tarvex
