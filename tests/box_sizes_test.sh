#!/bin/sh
# The box binaries' sizes: the package step prints them, and scripts/readme-sizes.sh
# writes them into a copy of README's table with the commit and day they were measured
# at, leaving the other rows as they were. Stand-in binaries: files of known sizes (an
# AArch64 header on a copy of /bin/sh for the package step, which reads it).
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() {  # description, then a command that must succeed
  what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    fail=1
  fi
}

mkdir -p "$work/build-mipsel" "$work/build-aarch64"
truncate -s 2689792 "$work/build-mipsel/lumetra"
truncate -s 1365788 "$work/build-mipsel/lumetra-convert"
cp "$here/README.md" "$work/README.md"
before=$(grep -v '(`mipsel`)' "$work/README.md")
out=$(LUMETRA_README="$work/README.md" LUMETRA_BUILD_ROOT="$work" \
  bash "$here/scripts/readme-sizes.sh" mipsel 2>&1)
status=$?
printf '%s\n' "$out" | sed 's/^/  | /'
check "readme-sizes succeeds" test "$status" -eq 0
commit=$(cd "$here" && git describe --always --dirty 2>/dev/null || echo unknown)
row="| MIPS (\`mipsel\`) | 2 689 792 | 1 365 788 | $commit, $(date -u +%Y-%m-%d) |"
check "the MIPS row holds the sizes, the commit and the day" grep -qxF "$row" "$work/README.md"
check "every other line is as it was" \
  test "$(grep -v '(`mipsel`)' "$work/README.md")" = "$before"

# No build of an architecture: README untouched, exit 1.
cp "$work/README.md" "$work/before.md"
LUMETRA_README="$work/README.md" LUMETRA_BUILD_ROOT="$work" \
  bash "$here/scripts/readme-sizes.sh" mipsel armhf >/dev/null 2>&1
status=$?
check "a missing build fails ($status) and changes nothing" \
  sh -c 'test "$1" -eq 1 && cmp -s "$2" "$3"' - "$status" "$work/before.md" "$work/README.md"

# The package step prints the sizes of what it packs on standard error; its standard
# output still ends with the package's path.
for name in lumetra lumetra-convert; do
  cp /bin/sh "$work/build-aarch64/$name"
  printf '\267\000' | dd of="$work/build-aarch64/$name" bs=1 seek=18 conv=notrunc 2>/dev/null
done
truncate -s 300000 "$work/build-aarch64/lumetra-convert"
ipk=$(LUMETRA_VERSION=1.2.3 bash "$here/scripts/box-package.sh" --arch aarch64 \
  --binary "$work/build-aarch64/lumetra" --converter "$work/build-aarch64/lumetra-convert" \
  --out "$work/out" 2>"$work/err" | tail -n1)
sed 's/^/  | /' "$work/err"
check "the package is made" test -f "$ipk"
said="box-package: aarch64 binaries (bytes): lumetra $(stat -c %s "$work/build-aarch64/lumetra"), lumetra-convert 300000"
check "the package step prints the sizes" grep -qxF "$said" "$work/err"
exit $fail
