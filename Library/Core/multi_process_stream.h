#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex {

// Binary stream of fixed-width little-endian values, read back in the order written.
// Reads never trust the data: reading past the end, or a string longer than the bytes
// left, throws an Error naming the source (a file path when set) instead of allocating.
class multi_process_stream {
 public:
  multi_process_stream() = default;

  multi_process_stream& operator<<(bool v);
  multi_process_stream& operator<<(std::int16_t v);
  multi_process_stream& operator<<(std::int32_t v);
  multi_process_stream& operator<<(std::uint32_t v);
  multi_process_stream& operator<<(std::uint64_t v);
  multi_process_stream& operator<<(double v);
  multi_process_stream& operator<<(const std::string& v);  // u64 length, then bytes
  multi_process_stream& operator<<(const char* v) { return *this << std::string(v); }

  multi_process_stream& operator>>(bool& v);
  multi_process_stream& operator>>(std::int16_t& v);
  multi_process_stream& operator>>(std::int32_t& v);
  multi_process_stream& operator>>(std::uint32_t& v);
  multi_process_stream& operator>>(std::uint64_t& v);
  multi_process_stream& operator>>(double& v);
  multi_process_stream& operator>>(std::string& v);

  // `count` doubles, no count prefix: the caller writes the shape first.
  void Push(const double* data, std::size_t count);
  // Reads `count` doubles into `data`; the caller checks `count` against remaining()
  // before allocating `data`.
  void Pop(double* data, std::size_t count);

  void PushBytes(const void* data, std::size_t bytes);
  void PopBytes(void* data, std::size_t bytes);

  // Whole stream out and in; SetRawData rewinds the read position.
  const std::vector<unsigned char>& GetRawData() const noexcept { return bytes_; }
  void SetRawData(std::vector<unsigned char> bytes);

  // Bytes not yet read.
  std::size_t remaining() const noexcept { return bytes_.size() - read_; }
  // Named in read errors ("file.bin"); empty means "binary stream".
  void SetSourceName(std::string name) { source_ = std::move(name); }
  const std::string& source_name() const noexcept { return source_; }
  // Throws unless `count` items of `item_bytes` each fit in the bytes left.
  void require(std::uint64_t count, std::size_t item_bytes) const;

 private:
  template <class U>
  void put(U v);
  template <class U>
  U get();

  std::vector<unsigned char> bytes_;
  std::size_t read_ = 0;
  std::string source_;
};

}  // namespace tarvex
