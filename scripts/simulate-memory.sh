#!/usr/bin/env bash
# Bounded memory: `tarvex simulate` on 200,000 paths x 360 monthly dates x 4 zero-rate
# tenors (288 million rates, 2.3 GB if every path's rate were kept for exact
# quantiles) must stay under 1 GB of resident memory, measured by GNU time. Run by
# .ci/run after the release suite; takes about 6 s of CPU. Argument: the build
# folder (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
limit_kb=1000000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/market/market.json examples/market/hjm_parameters.json "$work/"
cat >"$work/job.json" <<'JOB'
{
  "valuation_date": "2026-12-04",
  "market": "market.json",
  "simulation_dates": {"step": "1M", "horizon": "30Y"},
  "risk_factors": [{"name": "USD rates", "model": "hjm", "parameters": "hjm_parameters.json"}],
  "random": {"generator": "philox", "seed": 20261204, "paths_per_batch": 10000, "batches": 20},
  "outputs": {"bond_maturities": ["10Y", "30Y"], "zero_rate_tenors": ["3M", "2Y", "5Y", "10Y"]}
}
JOB
/usr/bin/time -v "$build/apps/tarvex/tarvex" simulate --job "$work/job.json" -o "$work/out" \
  >"$work/report.txt" 2>"$work/time.txt" || { cat "$work/report.txt" "$work/time.txt"; exit 1; }
rss_kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")
wall=$(sed -n 's/^[[:space:]]*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
rows=$(($(wc -l <"$work/out/zero_rate_quantiles.csv") - 1))
grep -q '"quantile_method": "compactor summary' "$work/out/summary.json"
test "$rows" -eq 1440  # 4 tenors x 360 dates
echo "tarvex simulate, 200000 paths x 360 dates x 4 tenors: max RSS ${rss_kb} kB (limit ${limit_kb}), ${wall} wall"
grep '^quantiles:' "$work/report.txt"
if [ "$rss_kb" -ge "$limit_kb" ]; then
  echo "tarvex simulate used ${rss_kb} kB, over the ${limit_kb} kB limit" >&2
  exit 1
fi
