#!/bin/bash
# Counts the MIPS instructions of the automatic sync's alignment of a two-hour film
# (1500 cues), for each distortion of the test material against each kind of
# reference (subtitles, a recording read whole or in pieces, speech) and a few more
# cases (bench/align_count.cpp),
# and of reading a minute of a broadcast recording, as the box build runs them: the mipsel cross build (-O2,
# static), executed under qemu-mipsel with a plug-in that counts every guest
# instruction (tools/insn_count_plugin.c).
#
#   scripts/mips-instructions.sh [--mhz N] [BUILD_DIR]     (default: 400, build-mipsel)
#
# Reuses the cross build's folder: configures it when needed and builds only
# lumetra-align-count there. Each figure is a run minus a baseline run that makes
# the same material and does not align (or read) it, so the material's making is
# not counted. The time at N MHz assumes one instruction a cycle: an upper bound of
# the speed, as a box's cache misses, multiplies and divides take more.
set -euo pipefail
cd "$(dirname "$0")/.."
MHZ=400
if [ "${1:-}" = --mhz ]; then
  MHZ=${2:?--mhz takes a number of MHz}
  shift 2
fi
[[ "$MHZ" =~ ^[1-9][0-9]*$ ]] || { echo "mips-instructions: --mhz takes a whole number" >&2; exit 2; }
BUILD=${1:-build-mipsel}
# shellcheck source=scripts/cross-arch.sh
source scripts/cross-arch.sh
cross_arch mipsel
# shellcheck source=scripts/fpu-instructions.sh
source scripts/fpu-instructions.sh
started=$SECONDS

if [ ! -f "$BUILD/build.ninja" ]; then
  bash scripts/cross-build.sh mipsel --configure-only "$BUILD"
fi
cmake --build "$BUILD" --target lumetra-align-count
PROGRAM=$BUILD/lumetra-align-count

# The alignment and the reader must be integer code: the box has no FPU and its
# kernel emulates each FPU instruction at the cost of many, which no count here shows.
fpu=$(fpu_instructions "$BUILD"/conv/CMakeFiles/lumetra_conv.dir/{align,ts,ts_subtitles}.cpp.o)
if [ -n "$fpu" ]; then
  printf 'mips-instructions: FPU instructions in the alignment or the reader:\n%s\n' "$fpu" >&2
  exit 1
fi

PLUGIN=$BUILD/insn_count_plugin.so
if [ ! -f "$PLUGIN" ] || [ tools/insn_count_plugin.c -nt "$PLUGIN" ]; then
  cc -shared -fPIC -O2 -Wall -Wextra -o "$PLUGIN" tools/insn_count_plugin.c
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# count PROGRAM ARGS...: the program's output into $work/out, its instructions printed.
count() {
  "$CROSS_QEMU" -plugin "$PLUGIN,out=$work/count" "$@" >"$work/out"
  cat "$work/count"
}

# The counter must count a loop of known length exactly: three instructions (a
# decrement, a branch and the branch's delay slot) an iteration.
cat >"$work/loop.c" <<'EOF'
#include <stdlib.h>
int main(int argc, char** argv) {
    unsigned n = argc > 1 ? (unsigned)strtoul(argv[1], 0, 10) : 0;
    if (n > 0) {
        __asm__ volatile(".set push\n.set noreorder\n1: addiu %0, %0, -1\n"
                         "bnez %0, 1b\nnop\n.set pop\n" : "+r"(n));
    }
    return 0;
}
EOF
"$CROSS_TRIPLET-gcc" -O2 -static -o "$work/loop" "$work/loop.c"
loop=$(($(count "$work/loop" 2000000) - $(count "$work/loop" 1000000)))
if [ "$loop" -ne 3000000 ]; then
  echo "mips-instructions: the counter gives $loop instructions for 1000000 iterations of 3" >&2
  exit 1
fi
echo "counter check: 1000000 iterations of a 3-instruction loop count $loop instructions"

echo
echo "== each case aligned once (what it found, under $CROSS_QEMU)"
"$CROSS_QEMU" "$PROGRAM" | tee "$work/cases"

# measured ARGS...: the instructions of PROGRAM ARGS minus those of PROGRAM ARGS
# --baseline, after checking that both saw the same material; the run's output stays
# in $work/measured.
measured() {
  local run base run_line base_line
  run=$(count "$PROGRAM" "$@")
  run_line=$(cat "$work/out")
  cp "$work/out" "$work/measured"
  base=$(count "$PROGRAM" "$@" --baseline)
  base_line=$(cat "$work/out")
  if [ "${run_line%%;*}" != "${base_line%%;*}" ]; then
    printf 'mips-instructions: the run and its baseline saw different material:\n%s\n%s\n' \
      "$run_line" "$base_line" >&2
    exit 1
  fi
  echo $((run - base))
}

# ms at MHZ, one instruction a cycle, to a tenth.
ms_at() { awk -v n="$1" -v mhz="$MHZ" 'BEGIN { printf "%.1f", n / (mhz * 1000) }'; }

echo
echo "== the alignment alone, instructions (ms at $MHZ MHz, one instruction a cycle)"
names=()
while IFS= read -r line; do
  names+=("$line")
done < <(sed -En 's/^case +[0-9]+ (.*[^ ]) +within .*/\1/p' "$work/cases")
[ ${#names[@]} -gt 0 ] || { echo "mips-instructions: no cases listed" >&2; exit 1; }
total=0
for i in "${!names[@]}"; do
  n=$(measured "$i")
  total=$((total + n))
  printf '%2d %-26s %15d  %8s ms\n' "$i" "${names[$i]}" "$n" "$(ms_at "$n")"
done
mean=$((total / ${#names[@]}))
printf '   %-26s %15d  %8s ms\n' "mean" "$mean" "$(ms_at "$mean")"

echo
echo "== reading a recording"
n=$(measured read)
packets=$(sed -n 's/.*; read: \([0-9]*\) packets.*/\1/p' "$work/measured")
if [ -z "$packets" ] || [ "$packets" -eq 0 ]; then
  echo "mips-instructions: no packets read" >&2
  exit 1
fi
per_packet=$(awk -v n="$n" -v p="$packets" 'BEGIN { printf "%.1f", n / p }')
hours2=$((n * 120))
printf 'a broadcast minute, %d packets: %d instructions (%s ms), %s a packet\n' \
  "$packets" "$n" "$(ms_at "$n")" "$per_packet"
printf 'a two-hour recording at that rate (120 minutes): %d instructions (%s s)\n' \
  "$hours2" "$(awk -v n="$hours2" -v mhz="$MHZ" 'BEGIN { printf "%.1f", n / (mhz * 1e6) }')"
echo
echo "mips-instructions: done in $((SECONDS - started)) s"
