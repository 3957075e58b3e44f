#pragma once
#include <cstddef>
#include <vector>

#include "Util/datetime.h"
#include "Util/tenor.h"

namespace tarvex {

// Operations on date grids. Every `dates` vector is sorted ascending without duplicates.
struct datetime_helper {
  // flag true: index of the last date not after `date` (0 before the first).
  // flag false: index of the first date not before `date` (size - 1 after the last).
  // Expects non-empty dates.
  static std::size_t date_offset(const datetime& date, const std::vector<datetime>& dates, bool flag = true);

  // `out` becomes the sorted union of its previous content, a and b, each date once;
  // a or b may be `out` itself.
  static void merge_dates(const std::vector<datetime>& a, const std::vector<datetime>& b, std::vector<datetime>& out);

  // out[i] = date_offset(all_dates[i], subset_dates, true): the subset row governing
  // each grid date. Expects a non-empty subset.
  static void interpolate_from_subset_dates(const std::vector<datetime>& all_dates,
                                            const std::vector<datetime>& subset_dates,
                                            std::vector<std::size_t>& out);

  // out[k] = index of subset_dates[k] in all_dates; expects every subset date in all_dates.
  static void index_subset_dates(const std::vector<datetime>& all_dates, const std::vector<datetime>& subset_dates,
                                 std::vector<std::size_t>& out);

  // The date moved by direction * t (direction +1 or -1). Months and years keep the day
  // of month, clamped to the target month, except that a month end maps to a month end.
  static datetime add_tenor(const datetime& date, const tenor& t, int direction = 1);

  // start, start + step, start + 2 step, ... (each measured from start so month ends
  // stay month ends), closed by end. A final stub shorter than 7 days is absorbed: the
  // last step date before end is dropped. Expects start <= end and a positive step.
  static std::vector<datetime> schedule(const datetime& start, const datetime& end, const tenor& step);
};

}  // namespace tarvex
