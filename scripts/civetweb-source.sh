#!/bin/bash
# Fetches the source of civetweb (the web server the player compiles into itself) from
# Debian bookworm's source package, with Debian's patches applied, into DIR (default
# .deps/civetweb in the repository). Debian ships civetweb only as a shared library, and
# the box binary is static, so the build compiles this source itself.
#
#   scripts/civetweb-source.sh [DIR]
#
# A second run with the source in place does nothing. apt-get reads a sources list,
# package lists and a cache of its own here, so the machine's apt set-up is left as it is.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DEST="${1:-$ROOT/.deps/civetweb}"

if [ -f "$DEST/src/civetweb.c" ] && [ -f "$DEST/include/civetweb.h" ]; then
  exit 0
fi

for tool in apt-get dpkg-source; do
  if ! command -v "$tool" >/dev/null; then
    echo "civetweb-source: $tool is missing (Debian's apt and dpkg-dev)" >&2
    exit 1
  fi
done

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/lists/partial" "$WORK/cache/archives/partial" "$WORK/src"
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$WORK/sources.list" <<LIST
deb-src [signed-by=$KEYRING] http://deb.debian.org/debian bookworm main
deb-src [signed-by=$KEYRING] http://deb.debian.org/debian-security bookworm-security main
LIST
APT_OPTS=(
  -o "Dir::Etc::SourceList=$WORK/sources.list"
  -o "Dir::Etc::SourceParts=/dev/null"
  -o "Dir::State::Lists=$WORK/lists"
  -o "Dir::Cache=$WORK/cache"
  -o "Debug::NoLocking=1"
  -o "APT::Sandbox::User=root"
)
apt-get "${APT_OPTS[@]}" -qq update >&2
# dpkg-source -x (run by apt-get source) checks the signature and applies Debian's patches.
(cd "$WORK/src" && apt-get "${APT_OPTS[@]}" -qq source civetweb >&2)

unpacked="$(find "$WORK/src" -mindepth 1 -maxdepth 1 -type d -name 'civetweb-*' | head -1)"
if [ -z "$unpacked" ] || [ ! -f "$unpacked/src/civetweb.c" ]; then
  echo "civetweb-source: no civetweb source was unpacked" >&2
  exit 1
fi
mkdir -p "$(dirname "$DEST")"
rm -rf "$DEST.tmp"
mv "$unpacked" "$DEST.tmp"
rm -rf "$DEST"
mv "$DEST.tmp" "$DEST"
echo "civetweb-source: $(basename "$unpacked") in $DEST" >&2
