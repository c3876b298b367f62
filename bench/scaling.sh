#!/usr/bin/env bash
# How time and memory grow with the input: generated inputs of 1x, 4x and
# 16x a base size (20,000 lines unless given) for the preprocessor, the
# parser, the code generator's reading, the assembler and the linker. For
# each program and size it prints the wall time and the peak memory (and,
# where the peer program is installed, the peer's figures on the same input,
# measured in the same run, and the ratio), then the growth exponents from
# 1x to 16x: 1.0 is linear, 2.0 quadratic. Last, the whole chain on a
# one-file program against starting its programs with no work (--ver).
#
# Usage: bench/scaling.sh [build-dir] [base-lines]   (default: build 20000)
# Needs python3 and GNU time (/usr/bin/time). Not a timed test: run by hand
# on a quiet machine; Release builds give the figures worth quoting.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
base=${2:-20000}
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gen="python3 $root/bench/gen_inputs.py"
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 1; }

have() { command -v "$1" >/dev/null 2>&1; }

# measure NAME CMD...: runs CMD, records "seconds kbytes" in $work/NAME.m;
# a failing command stops the benchmark with its error output.
measure() {
  local name=$1
  shift
  if ! /usr/bin/time -f "%e %M" -o "$work/$name.m" "$@" >"$work/$name.out" 2>"$work/$name.err"; then
    echo "failed: $*" >&2
    tail -5 "$work/$name.err" >&2
    exit 1
  fi
}
secs() { cut -d' ' -f1 "$work/$1.m"; }
kb() { cut -d' ' -f2 "$work/$1.m"; }

# growth A B: the exponent e with B = A * 16^e
growth() { awk -v a="$1" -v b="$2" 'BEGIN { if (a <= 0) a = 0.005; if (b <= 0) b = 0.005; printf "%.2f", log(b / a) / log(16) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b <= 0) b = 0.005; printf "%.2f", a / b }'; }

printf '[16F877A]\nARCH=PIC14\nROMSIZE=FFFFF\nBANKS=4\n' > "$work/chips.ini"
# The peer linker's script: one code page large enough for every size.
cat > "$work/big.lkr" <<'EOF'
CODEPAGE   NAME=page    START=0x0      END=0xFFFFF
DATABANK   NAME=gpr0    START=0x20     END=0x6F
DATABANK   NAME=sfr0    START=0x0      END=0x1F     PROTECTED
SECTION    NAME=vars    RAM=gpr0
EOF

row() { # program size ours-name [peer-name]
  local prog=$1 size=$2 ours=$3 peer=${4:-}
  local line
  line=$(printf '%-9s %6s lines  %7.2f s %8.1f MB' "$prog" "$size" "$(secs "$ours")" \
    "$(awk -v k="$(kb "$ours")" 'BEGIN { print k / 1024 }')")
  if [ -n "$peer" ] && [ -f "$work/$peer.m" ]; then
    line+=$(printf '   peer %7.2f s %8.1f MB   time x%s  memory x%s' "$(secs "$peer")" \
      "$(awk -v k="$(kb "$peer")" 'BEGIN { print k / 1024 }')" \
      "$(ratio "$(secs "$ours")" "$(secs "$peer")")" "$(ratio "$(kb "$ours")" "$(kb "$peer")")")
  fi
  echo "$line"
}

sizes=(1 4 16)
echo "build: $build   base: $base lines"
for m in "${sizes[@]}"; do
  lines=$((base * m))
  d=$work/x$m
  mkdir -p "$d"
  $gen macros "$lines" "$d/macros.c"
  $gen parse "$lines" "$d/parse.i"
  $gen asm "$lines" "$d/big.as"
  $gen gpasm "$lines" "$d/big.asm"

  measure "wren$m" "$bin/wren" "$d/macros.c" "$d/macros.pre"
  have gcc && measure "gcc_e$m" gcc -E -P "$d/macros.c" -o "$d/macros.gcc"

  measure "plover$m" "$bin/plover" -v -u -fp -Gstrings,const -M -B -J -Y -r -QP,bank0 \
    "$d/parse.i" "$d/parse.p" "$d/parse.tmp"
  have gcc && measure "gcc_s$m" gcc -fsyntax-only -x c "$d/parse.i"

  stat -c %s "$d/parse.p" > "$d/icode.bytes"
  measure "read$m" "$build/bench/kestrel_bench" "$d/parse.p"

  measure "osprey$m" "$bin/osprey" --chip=16F877A -C"$work/chips.ini" -o"$d/big.obj" "$d/big.as"
  have gpasm && measure "gpasm$m" gpasm -c -p p16f877a -w 2 -o "$d/big.o" "$d/big.asm"

  measure "heron$m" "$bin/heron" -z -Q16F877A -o"$d/big.cof" -M"$d/big.map" \
    -ACODE=0-FFFFFh -ABANK0=20h-6Fh -ptext0=CODE -prbss_0=BANK0 -DCODE=2 "$d/big.obj"
  have gplink && [ -f "$d/big.o" ] && measure "gplink$m" gplink -q -s "$work/big.lkr" -o "$d/big.hex" "$d/big.o"
done

echo
for m in "${sizes[@]}"; do row wren $((base * m)) "wren$m" "gcc_e$m"; done
for m in "${sizes[@]}"; do row plover $((base * m)) "plover$m" "gcc_s$m"; done
for m in "${sizes[@]}"; do
  row reading $((base * m)) "read$m"
  printf '          intermediate code %d bytes, %.1f bytes of memory per byte\n' \
    "$(cat "$work/x$m/icode.bytes")" \
    "$(awk -v k="$(kb "read$m")" -v b="$(cat "$work/x$m/icode.bytes")" 'BEGIN { print k * 1024 / b }')"
done
for m in "${sizes[@]}"; do row osprey $((base * m)) "osprey$m" "gpasm$m"; done
for m in "${sizes[@]}"; do row heron $((base * m)) "heron$m" "gplink$m"; done

echo
echo "growth exponents, 1x to 16x (time, memory):"
for p in wren gcc_e plover gcc_s read osprey gpasm heron gplink; do
  [ -f "$work/${p}1.m" ] && [ -f "$work/${p}16.m" ] || continue
  printf '  %-8s time %s  memory %s\n' "$p" "$(growth "$(secs "${p}1")" "$(secs "${p}16")")" \
    "$(growth "$(kb "${p}1")" "$(kb "${p}16")")"
done

# The whole chain on a one-file assembly program against starting the same
# programs, as often as the chain runs each, with no work (--ver): the
# driver's own cost and the programs' start-up show here.
echo
mkdir -p "$work/chain"
printf '\tFNCONF\tfnauto0,??,?\n\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\t_main\n_main:\n\tmovlw\t1\n\tmovwf\t0x7F\n\tgoto\t$\n' \
  > "$work/chain/main.as"
progs=$(cd "$work/chain" && "$bin/zeph" --chip=16F877A -V main.as 2>&1 | awk '$1 ~ /^[a-z]+$/ && $1 != "del" { print $1 }' || true)
rounds=10
chain=0
idle=0
for ((i = 0; i < rounds; i++)); do
  start=$(date +%s%N)
  (cd "$work/chain" && "$bin/zeph" --chip=16F877A main.as >/dev/null 2>&1)
  chain=$((chain + $(date +%s%N) - start))
  start=$(date +%s%N)
  "$bin/zeph" --ver >/dev/null 2>&1 || true
  for p in $progs; do "$bin/$p" --ver >/dev/null 2>&1 || true; done
  idle=$((idle + $(date +%s%N) - start))
done
echo "chain:" zeph $progs
printf 'chain on one assembly file %.1f ms, the same programs started with --ver %.1f ms: x%s\n' \
  "$(awk -v n=$chain -v r=$rounds 'BEGIN { print n / r / 1e6 }')" \
  "$(awk -v n=$idle -v r=$rounds 'BEGIN { print n / r / 1e6 }')" "$(ratio "$chain" "$idle")"
