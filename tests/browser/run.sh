#!/bin/bash
# Runs the web page's browser test (tests/browser/test_page.py) in headless Chromium.
#   tests/browser/run.sh BUILD_DIR     against BUILD_DIR/lumetra-sim
#   tests/browser/run.sh --standin     against the stand-in server (no TV to look at)
# Exit status 77 (CTest: skipped) when Chromium, its driver or python3-selenium is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

# Debian's python3-selenium belongs to the system's interpreter, not to another on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3 || true)
missing=()
[ -n "$python" ] || missing+=(python3)
command -v chromium >/dev/null || missing+=(chromium)
command -v chromedriver >/dev/null || missing+=(chromium-driver)
[ -z "$python" ] || "$python" -c 'import selenium' 2>/dev/null || missing+=(python3-selenium)
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIP: the browser test needs ${missing[*]} (scripts/install-deps.sh installs them)"
  exit 77
fi

if [ "${1:-}" = --standin ]; then
  export LUMETRA_STANDIN=1
else
  export LUMETRA_SIM="$(cd "${1:?usage: run.sh BUILD_DIR | --standin}" && pwd)/lumetra-sim"
fi
export LUMETRA_SOURCE_DIR="$source_dir"
export LUMETRA_BROWSER_OUT="${LUMETRA_BROWSER_OUT:-$source_dir/out}"
# Chromium keeps its profile and crash reports under HOME; a scratch one keeps runs apart.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch"
exec "$python" "$here/test_page.py"
