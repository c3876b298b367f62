#!/usr/bin/env bash
# Compiles the programs of bench/programs for the PIC16F877A and prints, per
# program, the program words and data bytes the link used and the cycles
# the simulator takes to reach the program's end (the write of 1 to
# test_done; "-" for a program without it).
# Usage: bench/codesize.sh [build-dir]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%-12s %8s %8s %10s\n' program words bytes cycles
for src in "$root"/bench/programs/*.c; do
  name=$(basename "$src" .c)
  mkdir -p "$work/$name"
  cp "$src" "$work/$name/main.c"
  out=$(cd "$work/$name" && "$build/bin/zeph" --chip=16F877A --output=-mcof main.c 2>&1) || {
    echo "$name: the build failed:"; echo "$out"; exit 1; }
  words=$(echo "$out" | sed -n 's/.*Program space *used *[0-9A-Fa-f]*h ( *\([0-9]*\)).*/\1/p')
  bytes=$(echo "$out" | sed -n 's/.*Data space *used *[0-9A-Fa-f]*h ( *\([0-9]*\)).*/\1/p')
  cycles=-
  addr=$(awk '$1 == "_test_done" { print $2 }' "$work/$name/main.sym")
  if [ -n "$addr" ]; then
    printf 'break w 0x%s, (reg(0x%s) == 1)\nbreak c 100000000\nrun\nquit\n' "$addr" "$addr" > "$work/$name/run.stc"
    log=$(gpsim -i -S disable -p p16f877a -I "$work/$name/run.stc" "$work/$name/main.hex" 2>&1)
    hex=$(echo "$log" | sed -n 's/^0x\([0-9A-Fa-f]*\) p16f877a .*/\1/p' | head -1)
    [ -n "$hex" ] && cycles=$((16#$hex))
  fi
  printf '%-12s %8s %8s %10s\n' "$name" "$words" "$bytes" "$cycles"
done
