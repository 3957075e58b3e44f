#pragma once
// Shared by the interpolated curves: pillar times and linear interpolation of a log
// quantity (ln P, ln Q) with (0, 0) as implicit first node and the last slope
// continued beyond the last pillar.
#include <string_view>
#include <vector>

#include "Util/datetime.h"
#include "Util/day_count_convention.h"

namespace tarvex {

// Year fractions of strictly ascending pillars after `origin`; checks both.
std::vector<double> pillar_times(const datetime& origin, const std::vector<datetime>& dates,
                                 const day_count_convention& dc, std::string_view what);
// Year fraction of a query date; refuses dates before the origin.
double pillar_time(const datetime& origin, const datetime& date, const day_count_convention& dc,
                   std::string_view what);
// y(t) on the nodes (0, 0), (times[i], values[i]); t >= 0.
double log_linear_value(const std::vector<double>& times, const std::vector<double>& values, double t);

}  // namespace tarvex
