#!/usr/bin/env bash
# Parses a generated 10,000-line preprocessed C unit (globals, functions with
# loops, conditions and calls) and prints the time it took.
# Usage: parser/bench/plover_10k.sh [build-dir]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
  echo '# 1 "big.c"'
  for ((i = 0; i < 1000; i++)); do echo "int g$i;"; done
  echo 'int helper(int v) { return v + 1; }'
  for ((i = 0; i < 1000; i++)); do
    echo "int f$i(int a, int b)"
    echo "{"
    echo "    int k;"
    echo "    for (k = 0; k < a; k++) g$i += b * k;"
    echo "    if (a > $i) return helper(a - b); else return g$i;"
    echo "}"
    echo "struct s$i { int x; char y[4]; } v$i;"
    echo "void h$i(void) { while (v$i.x < 10) { v$i.y[v$i.x & 3] = 'a'; v$i.x++; } }"
    echo ""
  done
} > "$work/big.pre"
echo "lines: $(wc -l < "$work/big.pre")"
start=$(date +%s.%N)
"$build/bin/plover" -Gstrings,const -M -B -J -Y -r -QCu,const "$work/big.pre" "$work/big.plover" "$work/s.tmp"
end=$(date +%s.%N)
echo "intermediate code lines: $(wc -l < "$work/big.plover")"
echo "seconds: $(echo "$end - $start" | bc)"
