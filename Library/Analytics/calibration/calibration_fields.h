#pragma once
// Field encodings of the calibration configuration objects (tenors, tenor lists and
// strike tables) and, after them, the object pattern itself. Calibration .cpp files
// include this header instead of foundations/serialization_io.h: the walkers there
// find field functions by ordinary lookup at their definition, so these overloads
// must be declared before serialization_io.h is first included (a
// std::vector<std::vector<double>> has no namespace of ours for argument-dependent
// lookup). Declared too late, the walker fails to compile rather than misbehaving.
#include <vector>

#include "Analytics/foundations/serialization_fields.h"
#include "Core/multi_process_stream.h"
#include "Util/tenor.h"

namespace tarvex::serialization {

// A tenor is its to_string() text and reads back by assignment from that text.
void write_json_field(json& j, const tenor& t);
void read_json_field(const json& j, tenor& t);
// Arrays of tenor texts; null reads as empty.
void write_json_field(json& j, const std::vector<tenor>& tenors);
void read_json_field(const json& j, std::vector<tenor>& tenors);
// Array of arrays of numbers; null reads as empty.
void write_json_field(json& j, const std::vector<std::vector<double>>& table);
void read_json_field(const json& j, std::vector<std::vector<double>>& table);

// Binary: the text as a string; lists as an unsigned 32-bit count then the elements;
// a table as its row count, then per row its count and doubles.
void write_binary_field(multi_process_stream& s, const tenor& t);
void read_binary_field(multi_process_stream& s, tenor& t);
void write_binary_field(multi_process_stream& s, const std::vector<tenor>& tenors);
void read_binary_field(multi_process_stream& s, std::vector<tenor>& tenors);
void write_binary_field(multi_process_stream& s, const std::vector<std::vector<double>>& table);
void read_binary_field(multi_process_stream& s, std::vector<std::vector<double>>& table);

}  // namespace tarvex::serialization

#include "Analytics/foundations/serialization_io.h"
