#include <memory>

#include "Analytics/foundations/serialization_fields.h"
#include "Core/multi_process_stream.h"

namespace tarvex {
class parameter_markovian_hjm;
}

// The HJM part is held non-const (set_state_parameters writes through it); it is
// written and read as the const record it is on file. Declared before the walkers.
namespace tarvex::serialization {
void write_json_field(json& j, const std::shared_ptr<parameter_markovian_hjm>& object);
void read_json_field(const json& j, std::shared_ptr<parameter_markovian_hjm>& object);
void write_binary_field(multi_process_stream& s, const std::shared_ptr<parameter_markovian_hjm>& object);
void read_binary_field(multi_process_stream& s, std::shared_ptr<parameter_markovian_hjm>& object);
}  // namespace tarvex::serialization

#include "Analytics/foundations/serialization_io.h"
#include "Analytics/parameters/parameter_black_karasinski.h"
#include "Core/check.h"
#include "Util/datetime_helper.h"

namespace tarvex::serialization {
void write_json_field(json& j, const std::shared_ptr<parameter_markovian_hjm>& object) {
  object_io::write_json<parameter_markovian_hjm>(j, object.get());
}
void read_json_field(const json& j, std::shared_ptr<parameter_markovian_hjm>& object) {
  object = object_io::read_json_or_null<parameter_markovian_hjm>(j);
}
void write_binary_field(multi_process_stream& s, const std::shared_ptr<parameter_markovian_hjm>& object) {
  object_io::write_binary<parameter_markovian_hjm>(s, object.get());
}
void read_binary_field(multi_process_stream& s, std::shared_ptr<parameter_markovian_hjm>& object) {
  object = object_io::read_binary_or_null<parameter_markovian_hjm>(s);
}
}  // namespace tarvex::serialization

namespace tarvex {

TARVEX_DEFINE_SERIALIZATION(parameter_black_karasinski)

parameter_black_karasinski::parameter_black_karasinski(const std::shared_ptr<parameter_markovian_hjm>& parameters,
                                                       const std::vector<double>& levels,
                                                       const std::vector<datetime>& levels_dates,
                                                       short time_step_in_days, short number_of_roots)
    : parameters_(parameters),
      levels_parameter_(levels),
      levels_parameter_dates_(levels_dates),
      time_step_in_days_(time_step_in_days),
      number_of_roots_(number_of_roots) {
  initialize();
}

void parameter_black_karasinski::initialize() {
  validate();
  reserve_state_parameters(parameters_->state_parameters_size());
  levels_offset_ = reserve_state_parameters(levels_parameter_.size());
  finish_layout();
}

void parameter_black_karasinski::validate() const {
  TARVEX_CHECK_TEXT(parameters_ != nullptr, "parameter_black_karasinski needs a Markovian HJM part");
  TARVEX_CHECK_TEXT(parameters_->number_of_factors() == 1, "parameter_black_karasinski supports one factor");
  TARVEX_CHECK(levels_parameter_.size() == levels_parameter_dates_.size(), "bk levels size ",
               levels_parameter_.size(), " is differents from dates size ", levels_parameter_dates_.size());
  // The model looks levels up by date: it needs at least one, in date order.
  TARVEX_CHECK_TEXT(!levels_parameter_.empty(), "bk levels are empty");
  for (std::size_t i = 1; i < levels_parameter_dates_.size(); ++i)
    TARVEX_CHECK_TEXT(levels_parameter_dates_[i - 1] < levels_parameter_dates_[i],
                      "bk levels dates are not strictly ascending");
}

std::size_t parameter_black_karasinski::levels_parameter_offset(const datetime& date) const {
  return datetime_helper::date_offset(date, levels_parameter_dates_, true);
}

void parameter_black_karasinski::levels_parameter_aad(double value, std::size_t index, double* gradient) const {
  update_state_parameters(value, levels_offset_, index, gradient);
}

void parameter_black_karasinski::finalize_aad(double*) const {}

std::size_t parameter_black_karasinski::get_state_parameters(double* out) const {
  std::size_t offset = parameters_->get_state_parameters(out);
  for (double level : levels_parameter_) out[offset++] = level;
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

std::size_t parameter_black_karasinski::set_state_parameters(const double* in) {
  std::size_t offset = parameters_->set_state_parameters(in);
  for (double& level : levels_parameter_) level = in[offset++];
  TARVEX_CHECK(offset == state_parameters_size(), "expect size parameter ", state_parameters_size(),
               " while provided ", offset);
  return offset;
}

}  // namespace tarvex
