#pragma once
// Files in the library's own serialization format (parameters, settings, targets). The
// library's readers report a wrong field as a bare JSON error, so each kind's fields
// are walked here first with the same messages as the command line's own files: file,
// JSON path, what was expected. The library's reader then validates what is left.
#include <cmath>
#include <memory>
#include <string>

#include "Analytics/calibration/calibration_hjm_settings.h"
#include "Analytics/calibration/calibration_ir_targets_configuration.h"
#include "Analytics/parameters/parameter_cheyette.h"
#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "input_error.h"
#include "json_input.h"

namespace tarvex::app {
namespace library_fields {

inline void type_value(const json_node& node) {
  const std::int64_t t = node.integer();
  if (t != 0 && t != 1) node.fail("0 (mean reversion) or 1 (decay factor)");
}

inline void bounds(const json_node& node) {
  if (node.size() != 2) node.fail("two bounds");
  if (node.at(std::size_t{0}).number() == node.at(std::size_t{1}).number()) node.fail("two different bounds");
}

inline void check(const json_node& root, const calibration_hjm_settings*) {
  const std::int64_t factors = root.at("mumber_of_factors").integer();
  if (factors < 1 || factors > 8) root.at("mumber_of_factors").fail("1 to 8 factors");
  bounds(root.at("volatility_bounds"));
  bounds(root.at("decay_bounds"));
  type_value(root.at("type"));
  root.at("tolerance").non_negative_number();
  root.at("regularization_factor").non_negative_number();
  for (const char* flag : {"regularization_flag", "calibrate_correlation_flag", "jacobian_with_aad_flag",
                           "calibrate_to_all_target_flag", "debug"})
    root.at(flag).boolean();
  const std::int64_t iterations = root.at("max_iterations").integer();
  if (iterations < 1 || iterations > 100000) root.at("max_iterations").fail("an integer from 1 to 100000");
}

inline void check(const json_node& root, const calibration_ir_targets_configuration*) {
  root.at("frequency").period();
  root.at("expiries").periods();
  root.at("coterminal").period();
  root.at("cms_tenors").periods();
  if (!root.at("strikes").value().is_null()) {
    const json_node strikes = root.at("strikes");
    for (std::size_t i = 0; i < strikes.size(); ++i) strikes.at(i).numbers();
  }
  for (const char* flag : {"include_caplets", "include_coterminal", "include_cms"}) root.at(flag).boolean();
}

// A matrix object {"rows", "columns", "data": columns arrays of rows numbers}.
inline std::pair<std::size_t, std::size_t> matrix_shape(const json_node& node) {
  const std::int64_t rows = node.at("rows").integer(), columns = node.at("columns").integer();
  if (rows < 0) node.at("rows").fail("a non-negative integer");
  if (columns < 0) node.at("columns").fail("a non-negative integer");
  const json_node data = node.at("data");
  if (data.size() != static_cast<std::size_t>(columns)) data.fail(std::to_string(columns) + " columns");
  for (std::size_t c = 0; c < data.size(); ++c)
    if (data.at(c).numbers().size() != static_cast<std::size_t>(rows))
      data.at(c).fail(std::to_string(rows) + " numbers, one per row");
  return {static_cast<std::size_t>(rows), static_cast<std::size_t>(columns)};
}

// Dates as their numbers, ascending; null is no date.
inline std::size_t date_count(const json_node& node) {
  if (node.value().is_null()) return 0;
  const auto dates = node.numbers();
  for (std::size_t i = 1; i < dates.size(); ++i)
    if (!(dates[i - 1] < dates[i])) node.at(i).fail("a date after " + std::to_string(dates[i - 1]) + " (ascending)");
  return dates.size();
}

inline void check(const json_node& root, const parameter_markovian_hjm*) {
  const auto decays = matrix_shape(root.at("decays"));
  const auto volatilities = matrix_shape(root.at("volatilities"));
  const auto correlation = matrix_shape(root.at("correlation"));
  const std::size_t decay_dates = date_count(root.at("decays_dates"));
  const std::size_t volatility_dates = date_count(root.at("volatilities_dates"));
  if (decays.first != decay_dates)
    root.at("decays").at("rows").fail(std::to_string(decay_dates) + ", one per entry of decays_dates");
  if (volatilities.first != volatility_dates)
    root.at("volatilities").at("rows").fail(std::to_string(volatility_dates) + ", one per entry of volatilities_dates");
  if (volatilities.second != decays.second)
    root.at("volatilities").at("columns").fail(std::to_string(decays.second) + ", one per factor as in decays");
  if (correlation.first != decays.second || correlation.second != decays.second)
    root.at("correlation").fail("a " + std::to_string(decays.second) + " x " + std::to_string(decays.second) +
                                " matrix, one row and column per factor");
  root.at("day_convention").at("type").integer();
  type_value(root.at("model_type"));
}

// A Cheyette set: the nested HJM set, then one skew row per skew date and factor.
inline void check(const json_node& root, const parameter_cheyette*) {
  const json_node hjm = root.at("parameters");
  check(hjm, static_cast<const parameter_markovian_hjm*>(nullptr));
  const std::size_t factors = matrix_shape(hjm.at("decays")).second;
  const auto skew = matrix_shape(root.at("skew_parameter"));
  const std::size_t skew_dates = date_count(root.at("skew_parameter_dates"));
  if (skew.first != skew_dates)
    root.at("skew_parameter").at("rows").fail(std::to_string(skew_dates) + ", one per entry of skew_parameter_dates");
  if (skew.second != factors)
    root.at("skew_parameter").at("columns").fail(std::to_string(factors) + ", one per factor as in decays");
  root.at("long_term_skew_level").number();
}

}  // namespace library_fields

// Reads a library file of class C; every problem is an input_error naming the file.
template <class C>
std::shared_ptr<const C> read_library_file(const std::string& file, const char* what) {
  const json_node root = json_node::load(file).at("root");
  library_fields::check(root, static_cast<const C*>(nullptr));
  try {
    return C::read_from_json(file);
  } catch (const std::exception& e) {
    throw input_error(file + ": $.root: not a valid " + std::string(what) + " file (" + e.what() + ")");
  }
}

}  // namespace tarvex::app
