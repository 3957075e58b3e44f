#include "Math/optimization_algorithm_output.h"

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "Core/logger.h"

namespace tarvex {
namespace {

std::string scientific(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "% .10e", value);
  return buffer;
}

// The report as lines; six solution entries per line keeps calibration-sized vectors
// readable in a log.
std::vector<std::string> report_lines(const optimization_algorithm_output& o) {
  std::vector<std::string> lines;
  lines.push_back(std::string("Levenberg-Marquardt: ") + to_string(o.termination));
  lines.push_back("  iterations           : " + std::to_string(o.iterations));
  lines.push_back("  residual evaluations : " + std::to_string(o.residual_evaluations));
  lines.push_back("  jacobian evaluations : " + std::to_string(o.jacobian_evaluations));
  lines.push_back("  initial cost         : " + scientific(o.initial_cost));
  lines.push_back("  final cost           : " + scientific(o.cost));
  lines.push_back("  residual norm        : " + scientific(o.residual_norm()));
  constexpr std::size_t per_line = 6;
  for (std::size_t first = 0; first < o.solution.size(); first += per_line) {
    std::string line = first == 0 ? "  solution             :" : "                        ";
    for (std::size_t i = first; i < o.solution.size() && i < first + per_line; ++i) line += " " + scientific(o.solution[i]);
    lines.push_back(std::move(line));
  }
  if (o.solution.empty()) lines.push_back("  solution             : (no unknowns)");
  return lines;
}

}  // namespace

const char* to_string(optimization_termination reason) {
  switch (reason) {
    case optimization_termination::not_run: return "not run";
    case optimization_termination::gradient_tolerance: return "gradient below tolerance";
    case optimization_termination::step_tolerance: return "step below tolerance";
    case optimization_termination::relative_reduction: return "relative reduction of the cost below tolerance";
    case optimization_termination::iteration_limit: return "iteration limit reached";
    case optimization_termination::non_finite_residuals: return "residuals at the starting point are not finite";
    case optimization_termination::non_finite_jacobian: return "Jacobian is not finite";
    case optimization_termination::damping_overflow: return "damping overflow: no step reduces the cost";
  }
  return "unknown termination";
}

bool optimization_algorithm_output::converged() const noexcept {
  return termination == optimization_termination::gradient_tolerance ||
         termination == optimization_termination::step_tolerance ||
         termination == optimization_termination::relative_reduction;
}

double optimization_algorithm_output::residual_norm() const noexcept { return std::sqrt(2.0 * cost); }

void optimization_algorithm_output::print() const {
  if (logger::GetCurrentVerbosityCutoff() < static_cast<int>(verbosity::error)) return;
  for (const auto& line : report_lines(*this)) logger::Log(static_cast<int>(verbosity::error), __FILE__, __LINE__, line);
}

void optimization_algorithm_output::print(std::ostream& out) const {
  for (const auto& line : report_lines(*this)) out << line << '\n';
}

}  // namespace tarvex
