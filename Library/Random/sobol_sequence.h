#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvex {

// Sobol points in base 2 with the Joe-Kuo direction numbers (new-joe-kuo-6.21201, as
// tabulated by Boost.Random), extended to 64 bits by the primitive-polynomial
// recurrence. Dimension 0 is van der Corput's sequence. Points are in Gray-code order
// (Antonov-Saleev), point 0 is the origin; a coordinate is a 64-bit binary fraction.
class sobol_sequence {
 public:
  // Dimensions in Boost's table: the polynomials whose codes fit in 16 bits.
  static constexpr std::size_t max_dimension = 3667;

  // Throws tarvex::Error for 0 or more than max_dimension dimensions.
  explicit sobol_sequence(std::size_t dimensions);

  std::size_t dimensions() const { return dimensions_; }

  // Direction number v_{bit+1} of `dimension` as a 64-bit fraction (bit = 0 ... 63).
  std::uint64_t direction(std::size_t dimension, unsigned bit) const { return directions_[dimension * 64 + bit]; }

  // Coordinate `dimension` of point `index`.
  std::uint64_t coordinate(std::size_t dimension, std::uint64_t index) const;

  // out[i] = coordinate(dimension, first + i) ^ shift for i < n, by Gray-code steps.
  void coordinates(std::size_t dimension, std::uint64_t first, std::size_t n, std::uint64_t shift,
                   std::uint64_t* out) const;

 private:
  std::size_t dimensions_;
  std::vector<std::uint64_t> directions_;  // 64 per dimension
};

}  // namespace tarvex
