#!/usr/bin/env bash
# Assembles a generated 20,000-line mid-range source and prints the time it
# took. Usage: bench/osprey_20k.sh [build-dir]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
  echo "	psect	text0,class=CODE,delta=2"
  echo "	global	_main,_ext"
  echo "_main:"
  for ((i = 0; i < 2500; i++)); do
    echo "l$i:	movlw	low(_ext+$i)"
    echo "	movwf	_var&07Fh"
    echo "	addwf	0x20+($i&0x3F),f"
    echo "	btfsc	3,2"
    echo "	goto	l$i"
    echo "	fcall	_ext"
    echo "	bsf	3,5"
    echo "	retlw	$((i & 255))"
  done
  echo "	psect	rbss_0,class=BANK0,space=1"
  echo "_var:	ds	1"
} > "$work/big.as"
printf '[16F877A]\nARCH=PIC14\nROMSIZE=2000\n' > "$work/chips.ini"
echo "lines: $(wc -l < "$work/big.as")"
start=$(date +%s.%N)
"$build/bin/osprey" --chip=16F877A -C"$work/chips.ini" -o"$work/big.obj" "$work/big.as"
end=$(date +%s.%N)
echo "osprey: $(echo "$end - $start" | bc) s, object $(stat -c %s "$work/big.obj") bytes"
