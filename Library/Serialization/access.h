#pragma once
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarvex::serialization {

// Whole-file transfer. Writes go to a temporary file in the target's folder that is
// renamed into place, so an interrupted write never destroys the previous file.
// Every failure is an Error whose message starts with the path.
struct access {
  // JSON text with an indent of 2, non-ASCII characters kept.
  static void write_json(const std::string& path, const nlohmann::ordered_json& document);
  static void read_json(const std::string& path, nlohmann::ordered_json& document);
  // Binary files carry a header (magic, version, length, FNV-1a checksum) so that a
  // truncated or bit-flipped file is refused before any value is decoded.
  static void write_binary(const std::string& path, const std::vector<unsigned char>& bytes);
  static void read_binary(const std::string& path, std::vector<unsigned char>& bytes);
};

}  // namespace tarvex::serialization
