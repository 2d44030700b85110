#!/bin/bash
# Installs what is needed, builds the simulator and shows the player on the bundled
# demo: in a window when there is a display, else as a scripted tour that writes
# pictures to out/demo/. Extra arguments go to lumetra-sim (window only).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMETRA_SANITIZE= \
  -DLUMETRA_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target lumetra-sim

# A fresh copy of the demo root each time, so every run starts the same way (the
# player writes its settings, link and deletions there) and the sources stay clean.
out=out/demo
rm -rf "$out"
mkdir -p "$out"
cp -a demo/root "$out/root"
box="$out/root/var/tuxbox/Tresk"
rm -f "$box/tresk.conf"  # left by a run of lumetra-sim on demo/root itself
ln -sfn /usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf "$box/Tresk.ttf"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening the simulator window; the panel beside the picture lists the keys."
  exec build/lumetra-sim --root "$out/root" "$@"
fi

echo "No display: playing the scripted tour headless (about 15 seconds)."
(cd "$out" && ../../build/lumetra-sim --headless --root root --keys ../../demo/tour.keys --timeout 120)
echo
echo "Pictures of the player at work, in $out/:"
for f in "$out"/*.png; do
  echo "  $f"
done
