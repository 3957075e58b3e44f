#pragma once
#include <cstddef>
#include <memory>

#include "Analytics/foundations/serializable.h"
#include "Market/market_data.h"
#include "Random/device_type.h"
#include "Random/random_settings.h"
#include "Random/random_type.h"

namespace tarvex {

// How one batch of Monte Carlo paths draws its Gaussians: the main generator's type
// and the Random library's settings (seed, batch shape and position, secondary
// generator, device, orthogonalisation). Stored in the client's container.
class random_config : public config_data {
  TARVEX_SERIALIZABLE(random_config)

 public:
  // Builds random_settings(seed, paths, dates, brownians, batch_index, full_skip = false,
  // generator_type, use_shift, type, orthogonalization), which validates the numbers;
  // note that the argument order differs from the settings' own.
  random_config(random_type main_generator_type, std::size_t seed, std::size_t number_of_paths_per_batch,
                std::size_t number_of_simulation_dates, std::size_t number_of_brownians, std::size_t batch_index,
                bool use_shift, bool orthogonalization, random_type generator_type, device_type type);

  // The generator the random manager builds.
  random_type main_generator_type() const { return main_generator_type_; }
  // Everything else; never null.
  const std::shared_ptr<const random_settings>& settings() const { return settings_; }

 private:
  random_config() = default;
  void initialize();
  void validate() const;

  // Field order is the file format.
  template <class Self, class W>
  static void fields(Self& self, W& w) {
    w("main_generator_type", self.main_generator_type_);
    w("settings", self.settings_);
  }

  random_type main_generator_type_{};
  std::shared_ptr<const random_settings> settings_;
};

}  // namespace tarvex
