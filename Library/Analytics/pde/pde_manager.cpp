#include "Analytics/pde/pde_manager.h"

#include <algorithm>
#include <numeric>

#include "Analytics/diffusion/common/diffusion.h"
#include "Core/check.h"
#include "Market/market_data.h"

namespace tarvex {

std::size_t linearized_index(const std::vector<std::size_t>& indices, const std::vector<std::size_t>& dimensions) {
  TARVEX_CHECK_TEXT(indices.size() <= dimensions.size(), "number of idx is defferent from dimension!");
  std::size_t offset = 0;
  for (std::size_t d = 0; d < dimensions.size(); ++d) {
    const std::size_t i = d < indices.size() ? indices[d] : 0;
    TARVEX_CHECK(i < dimensions[d], "index ", i, " of dimension ", d, " is beyond its extent ", dimensions[d]);
    offset = offset * dimensions[d] + i;
  }
  return offset;
}

pde_manager::pde_manager(const std::vector<std::shared_ptr<const diffusion>>& diffusions,
                         const std::shared_ptr<const time_grid>& grid, const std::vector<std::size_t>& initial_indices,
                         const std::vector<std::shared_ptr<const space_grid>>& space_grids,
                         const std::vector<std::size_t>& scheme_dimensions, const std::vector<bool>& boundaries,
                         pde_scheme_type type, bool rannacher, const matrix<double>& correlation)
    : diffusions_(diffusions),
      time_grid_(grid),
      initial_indices_(initial_indices),
      space_grids_(space_grids),
      correlation_(correlation) {
  for (auto g = space_grids_.rbegin(); g != space_grids_.rend(); ++g) dimensions_.push_back((*g)->size());
  for (std::size_t g = 0; g < space_grids_.size(); ++g)
    coefficients_.push_back(std::make_shared<pde_model_coefficients>(dimensions_, diffusions_.size() > 1));
  scheme_ = pde_scheme::create_scheme(time_grid_, space_grids_, coefficients_, scheme_dimensions, boundaries, type,
                                      rannacher, correlation_);
  for (const auto& c : coefficients_) coefficients_views_.emplace_back(c, c);
}

void pde_manager::run(const std::vector<std::shared_ptr<const instrument>>& instruments,
                      const std::vector<double>& values, const std::vector<std::shared_ptr<life_cycle_data>>& life_cycle) {
  const time_grid& grid = *time_grid_;
  TARVEX_CHECK(values.size() == grid.size(), "values size ", values.size(), " is differents from time grid size ",
               grid.size());
  TARVEX_CHECK(life_cycle.empty() || life_cycle.size() == instruments.size(), "life cycle size ", life_cycle.size(),
               " is differents from instruments size ", instruments.size());
  size_ = 0;
  for (const auto& i : instruments) size_ += i->number_of_results();
  std::vector<std::size_t> shape = dimensions_;
  if (size_ > 1) shape.insert(shape.begin(), size_);
  storage_ = std::make_shared<pde_storage>(1, size_, shape);
  const std::size_t nodes = std::accumulate(dimensions_.begin(), dimensions_.end(), std::size_t{1},
                                            [](std::size_t a, std::size_t b) { return a * b; });

  std::vector<tensor<double>> slices;
  std::size_t offset = 0;
  for (const auto& i : instruments) {
    std::vector<std::size_t> own = dimensions_;
    if (i->number_of_results() >= 2) own.insert(own.begin(), i->number_of_results());
    slices.push_back(tensor<double>::view(storage_->result().data() + offset * nodes, own));
    offset += i->number_of_results();
  }

  // Market objects over the node coordinates (grid 0 is the fastest index).
  std::vector<std::shared_ptr<const market_data>> market;
  std::size_t first_grid = 0;
  for (const auto& d : diffusions_) {
    matrix<double> states(d->number_of_states(), nodes, 0.0);
    for (std::size_t f = 0; f < d->number_of_factors() && first_grid + f < space_grids_.size(); ++f) {
      const std::size_t g = first_grid + f;
      std::size_t stride = 1;
      for (std::size_t h = 0; h < g; ++h) stride *= space_grids_[h]->size();
      const auto& axis = space_grids_[g]->axis();
      for (std::size_t p = 0; p < nodes; ++p) states(f, p) = axis[(p / stride) % axis.size()];
    }
    matrix<double> previous = states;
    market.push_back(d->create_market_data(d, std::move(states), std::move(previous), market));
    first_grid += d->number_of_factors();
  }

  const bool forward = grid.is_direction_forward();
  if (forward) {
    const std::size_t origin = linearized_index(initial_indices_, dimensions_);
    for (std::size_t r = 0; r < size_; ++r) storage_->slice(r)[origin] = 1.0;
  }
  const std::vector<std::shared_ptr<const pde_model_coefficients>> filled(coefficients_.begin(), coefficients_.end());
  const auto one_step = [&](std::size_t j) {
    scheme_->start_step(j);
    const datetime& a = scheme_->from();
    const datetime& b = scheme_->to();
    for (const auto& m : market) m->finalize(a);
    for (std::size_t i = 0; i < instruments.size(); ++i) instruments[i]->start_of_step(a, market, slices[i]);
    const datetime& earlier = forward ? a : b;
    const datetime& later = forward ? b : a;
    for (const auto& d : diffusions_) d->coefficients(filled, earlier, later);
    scheme_->advance(*storage_, coefficients_views_, forward ? values[j + 1] : values[j]);
    for (const auto& m : market) m->finalize(b);
    for (std::size_t i = 0; i < instruments.size(); ++i)
      instruments[i]->end_of_step(b, market, life_cycle.empty() ? nullptr : life_cycle[i], slices[i]);
  };
  const std::size_t events = grid.event_dates_size();
  if (forward) {
    for (std::size_t k = 1; k < events; ++k)
      for (std::size_t j = grid.event_dates_indexs(k - 1); j < grid.event_dates_indexs(k); ++j) one_step(j);
  } else {
    for (std::size_t k = events; k-- > 1;)
      for (std::size_t j = grid.event_dates_indexs(k); j > grid.event_dates_indexs(k - 1); --j) one_step(j);
  }
}

void pde_manager::pv(double* out) const {
  TARVEX_CHECK(storage_ != nullptr, "pv needs a run first");
  const std::size_t nodes = storage_->nodes();
  for (std::size_t r = 0; r < storage_->number_of_results(); ++r) {
    const double* v = storage_->slice(r);
    if (time_grid_->is_direction_forward()) {
      double sum = 0.0;
      for (std::size_t p = 0; p < nodes; ++p) sum += v[p];
      out[r] = sum;
    } else {
      out[r] = v[linearized_index(initial_indices_, dimensions_)];
    }
  }
}

}  // namespace tarvex
