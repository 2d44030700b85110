#!/bin/bash
# Checks that no function of the player other than the frame-rate rescale
# (sub_rescale) and the conversion of one dropped-in subtitle file (convert_one in
# library/drop_in.cpp, whose options and times are doubles, like the conversion
# library's arithmetic, which is not part of the player's objects) contains an FPU
# instruction. The box has no FPU: the kernel emulates every such instruction,
# which only these two, run once per rescale or new file, may pay for.
#
#   scripts/check-fpu.sh BUILD_DIR
#
# BUILD_DIR is a mipsel build (cmake/mipsel-toolchain.cmake). The objects checked
# are the player's (BUILD_DIR/box-objects.txt, written by cmake/box.cmake) and
# the box binary's own (its entry point and device layer).
set -euo pipefail
BUILD=${1:?usage: check-fpu.sh BUILD_DIR}
OBJDUMP=${OBJDUMP:-mipsel-linux-gnu-objdump}
CXX=${CXX_MIPSEL:-mipsel-linux-gnu-g++}
ALLOWED='^(sub_rescale|\(anonymous namespace\)::convert_one)\('

# shellcheck source=scripts/fpu-instructions.sh
source "$(dirname "$0")/fpu-instructions.sh"

# The detector itself must see a single-precision multiply.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'float probe(float a, float b) { return a * b; }\n' >"$probe/probe.cpp"
"$CXX" -O2 -c "$probe/probe.cpp" -o "$probe/probe.o"
if [ -z "$(fpu_instructions "$probe/probe.o")" ]; then
  echo "check-fpu: the detector finds no FPU instruction in a float multiply" >&2
  exit 2
fi

objects=()
if [ -f "$BUILD/box-objects.txt" ]; then
  while IFS= read -r o; do
    [ -n "$o" ] && objects+=("$o")
  done <"$BUILD/box-objects.txt"
fi
while IFS= read -r -d '' o; do objects+=("$o"); done \
  < <(find "$BUILD/CMakeFiles/lumetra.dir" -name '*.o' -print0 2>/dev/null)
if [ ${#objects[@]} -eq 0 ]; then
  echo "check-fpu: no objects found in $BUILD (build the lumetra target first)" >&2
  exit 2
fi
for o in "${objects[@]}"; do
  [ -f "$o" ] || { echo "check-fpu: missing object $o" >&2; exit 2; }
done

# Per function: the count of FPU instructions and the mnemonics seen.
summary=$(fpu_instructions "${objects[@]}" | awk -F'\t' '
  { total[$1]++; if (!seen[$1 "\t" $2]++) ops[$1] = ops[$1] " " $2 }
  END { for (f in total) print f "\t" total[f] "\t" ops[f] }' | sort)
echo "check-fpu: ${#objects[@]} objects checked"
bad=0
if [ -n "$summary" ]; then
  while IFS=$'\t' read -r fn count ops; do
    if [[ "$fn" =~ $ALLOWED ]]; then
      echo "  allowed:   $fn: $count FPU instructions:$ops"
    else
      echo "  FORBIDDEN: $fn: $count FPU instructions:$ops"
      bad=1
    fi
  done <<<"$summary"
else
  echo "  no FPU instructions at all"
fi
if [ "$bad" -ne 0 ]; then
  echo "check-fpu: FAILED: FPU instructions outside the frame-rate rescale and the conversion"
  exit 1
fi
echo "check-fpu: OK"
