# Sourced by the benchmark scripts: the clock, seconds between two readings of it, and
# the ratio of two times, each to two decimals.
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
