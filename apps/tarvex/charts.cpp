#include "charts.h"

#include <cstdlib>
#include <fstream>
#include <ostream>

#include "input_error.h"

namespace tarvex::app {
namespace fs = std::filesystem;

bool gnuplot_available() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

namespace {

// Rows of the CSV files are grouped by zero-rate tenor (bond maturity), then by date, so
// group g is the data rows g*D .. g*D + D - 1 after the header.
std::string rows(std::size_t group, std::size_t dates) {
  return "every ::" + std::to_string(group * dates) + "::" + std::to_string(group * dates + dates - 1);
}

}  // namespace

bool draw_charts(const fs::path& folder, const simulation_job& job, const simulation_result& r, std::ostream& log) {
  const std::size_t D = r.dates.size(), Q = job.quantiles.size();
  const fs::path script = folder / "charts.gp";
  {
    std::ofstream gp(script);
    gp << "# Draws zero_rate_fan.png and martingale.png from the CSV files beside it:\n"
          "#   gnuplot charts.gp\n"
          "set terminal pngcairo size 1100," << 380 * job.zero_rate_tenors.size() + 60 << " font 'sans,10'\n"
          "set datafile separator ','\n"
          "set xdata time\nset timefmt '%Y-%m-%d'\nset format x '%Y'\nset grid\n"
          "set key top left\n"
          "set output 'zero_rate_fan.png'\n"
          "set multiplot layout " << job.zero_rate_tenors.size() << ",1 title 'Simulated zero rates, "
       << r.paths << " paths'\n"
          "set ylabel 'zero rate (%)'\n";
    for (std::size_t z = 0; z < job.zero_rate_tenors.size(); ++z) {
      gp << "set title '" << job.zero_rate_tenors[z].to_string() << " zero rate: quantiles of the simulation'\n";
      gp << "plot ";
      // Bands from the outermost quantile pair inwards; columns: date, tenor, mean, quantiles.
      bool first = true;
      for (std::size_t i = 0; i < Q / 2; ++i) {
        const std::size_t lo = 4 + i, hi = 4 + Q - 1 - i;
        if (!first) gp << ", \\\n     ";
        first = false;
        gp << "'zero_rate_quantiles.csv' skip 1 " << rows(z, D) << " using 1:(100*$" << lo << "):(100*$" << hi
           << ") with filledcurves fs transparent solid 0.25 lc rgb '#1f77b4' title '"
           << job.quantiles[i] * 100 << "%-" << job.quantiles[Q - 1 - i] * 100 << "%'";
      }
      if (Q % 2 == 1) {
        gp << (first ? "" : ", \\\n     ") << "'zero_rate_quantiles.csv' skip 1 " << rows(z, D) << " using 1:(100*$"
           << 4 + Q / 2 << ") with lines lw 2 lc rgb '#1f77b4' title '" << job.quantiles[Q / 2] * 100 << "%'";
        first = false;
      }
      gp << (first ? "" : ", \\\n     ") << "'zero_rate_quantiles.csv' skip 1 " << rows(z, D)
         << " using 1:(100*$3) with lines dt 2 lc rgb 'black' title 'mean'\n";
    }
    gp << "unset multiplot\n\n"
          "set terminal pngcairo size 1100,500 font 'sans,10'\n"
          "set output 'martingale.png'\n"
          "set title 'Martingale check: (MC price of D(0,t) P(t,T) - P(0,T)) / standard error'\n"
          "set ylabel 'standard errors'\nset yrange [-4:4]\nset key outside right\n"
          "plot 3 with lines dt 2 lc rgb 'red' title '+/-3', -3 with lines dt 2 lc rgb 'red' notitle";
    for (std::size_t m = 0; m < r.maturities.size(); ++m)
      gp << ", \\\n     'martingale.csv' skip 1 " << rows(m, D) << " using 1:6 with linespoints pt 7 ps 0.4 title 'T = "
         << job.bond_maturities[m].to_string() << "'";
    gp << "\n";
    if (!gp) throw input_error(script.string() + ": cannot write");
  }
  if (!gnuplot_available()) {
    log << "gnuplot is not installed: no PNG charts drawn (install gnuplot, e.g. 'apt-get install gnuplot-nox', "
           "then run 'gnuplot charts.gp' in the output folder)\n";
    return false;
  }
  std::string quoted;
  for (char c : folder.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  const std::string command = "cd '" + quoted + "' && gnuplot charts.gp 2>gnuplot.log";
  if (std::system(command.c_str()) != 0) {
    std::ifstream err(folder / "gnuplot.log");
    std::string first_line;
    std::getline(err, first_line);
    throw std::runtime_error("gnuplot failed to draw the charts: " + first_line);
  }
  fs::remove(folder / "gnuplot.log");
  return true;
}

}  // namespace tarvex::app
