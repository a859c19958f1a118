#!/usr/bin/env bash
# Size of the tests against the size of the product, in lines that hold code: blank
# lines and comment lines are left out of both. Tests that grow past a third of the
# code usually restate it instead of catching faults; CI can hold the figure down.
# tools/ (the event generators and scripts) counts as product; the figure without it
# follows in brackets, since those tools serve the tests as much as the product.
#
#   tools/test_size.sh             prints e.g. "tests 2712 / product 6874 = 0.39
#                                  (without tools/: tests 2712 / product 5120 = 0.53)"
#   tools/test_size.sh --max 0.4   the same, and exits 1 when the first ratio is above 0.4
set -euo pipefail
cd "$(dirname "$0")/.."

max=
while [ $# -gt 0 ]; do
  case $1 in
    --max)
      [ $# -ge 2 ] || { echo "test_size: --max needs a ratio" >&2; exit 2; }
      max=$2
      [[ $max =~ ^[0-9]*\.?[0-9]+$ ]] || { echo "test_size: --max wants a number, not '$max'" >&2; exit 2; }
      shift 2
      ;;
    *) echo "usage: tools/test_size.sh [--max RATIO]" >&2; exit 2 ;;
  esac
done

# Lines of code in the files named on standard input. `//` starts a comment line in
# every language here; `#` only in shell and awk, since in C++ it is #include or
# #pragma. In C++ and QML a line opening with /* and everything up to its */ are
# comment too; in shell /* is a glob.
code_lines() {
  local files=()
  mapfile -t files
  [ ${#files[@]} -gt 0 ] || { echo 0; return; }
  awk '
    FNR == 1 { hash = (FILENAME ~ /\.(sh|awk)$/); inBlock = 0 }
    {
      line = $0
      sub(/^[ \t\r]+/, "", line)
      if (inBlock) { if (index(line, "*/")) inBlock = 0; next }
      if (line == "" || substr(line, 1, 2) == "//") next
      if (hash && substr(line, 1, 1) == "#") next
      if (!hash && substr(line, 1, 2) == "/*") { if (!index(substr(line, 3), "*/")) inBlock = 1; next }
      n++
    }
    END { print n + 0 }
  ' "${files[@]}"
}

tests=$(find tests -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.qml' -o -name '*.sh' \) \
  | sort | code_lines)
product=$(find core media fingerprint matching export engine cli app qml tools \
  -path tools/events -prune -o -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.qml' -o -name '*.sh' -o -name '*.awk' \) -print \
  | sort | code_lines)

tools=$(find tools -path tools/events -prune -o -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.qml' -o -name '*.sh' -o -name '*.awk' \) -print \
  | sort | code_lines)
without_tools=$((product - tools))

[ "$without_tools" -gt 0 ] || { echo "test_size: no product code found" >&2; exit 2; }
ratio=$(awk -v t="$tests" -v p="$product" 'BEGIN { printf "%.2f", t / p }')
ratio_without_tools=$(awk -v t="$tests" -v p="$without_tools" 'BEGIN { printf "%.2f", t / p }')
echo "tests $tests / product $product = $ratio" \
  "(without tools/: tests $tests / product $without_tools = $ratio_without_tools)"

if [ -n "$max" ]; then
  if awk -v t="$tests" -v p="$product" -v m="$max" 'BEGIN { exit !(t / p > m + 0) }'; then
    exact=$(awk -v t="$tests" -v p="$product" 'BEGIN { printf "%.4f", t / p }')
    echo "test_size: tests are $exact of the product, above the allowed $max" >&2
    exit 1
  fi
fi
exit 0
