#!/bin/bash
# The box binary on a real Linux kernel: Debian's 6.1 kernel boots in QEMU (software
# emulation), the real `lumetra` runs over the bochs DRM framebuffer and a uinput remote
# control, and what it prints, draws, scans out and saves is checked against the simulator.
#
#   bash tests/vm/run.sh [--mips | --arm] [BUILD_DIR]
#
# BUILD_DIR (default build-vm/build; relative to the repository) is configured if it is not
# yet, and the lumetra and lumetra-sim targets are built there. The kernel package and the
# kernel unpacked from it stay in /var/cache/lumetra-vm (else build-vm/cache; or
# $LUMETRA_VM_CACHE), so that later runs on the machine skip the download; each run leaves
# its files (serial log, dumps, screen dumps, PNGs) in build-vm/out/<run>. Exit status 0
# when every check holds.
#
# --mips: the same on Debian's 32-bit little-endian MIPS kernel for the Malta board, with
# the static binary of the box package (build-mipsel/lumetra_*.ipk, packed first when it
# is missing); BUILD_DIR then only gives the simulator. Its files go to build-vm/out-mips.
# This leg also runs the player with an 8-bit display (which it must refuse) and measures
# the memory of the binary while it plays a two-hour film.
#
# --arm: the same scenario with the static binary of the ARMv7 box package
# (build-armhf/lumetra_*_armhf.ipk) on Debian's 32-bit ARM kernel (armmp) for QEMU's
# virt board with one Cortex-A15 (ARMv7-A, as in the 4K boxes' chips). Its files go to
# build-vm/out-arm.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
SRC=$PWD
VM=$SRC/build-vm
ARCH=x86_64
case "${1:-}" in
--mips)
    ARCH=mipsel
    shift
    ;;
--arm)
    ARCH=armhf
    shift
    ;;
esac
if [ -n "${LUMETRA_VM_CACHE:-}" ]; then
    CACHE=$LUMETRA_VM_CACHE
elif mkdir -p /var/cache/lumetra-vm 2>/dev/null && [ -w /var/cache/lumetra-vm ]; then
    CACHE=/var/cache/lumetra-vm
else
    CACHE=$VM/cache
fi
OUT=$VM/out
TOOLS=$VM/tools
INITRD=$VM/initrd.cpio
case $ARCH in
mipsel)
    OUT=$VM/out-mips
    INITRD=$VM/initrd-mips.cpio
    ;;
armhf)
    OUT=$VM/out-arm
    INITRD=$VM/initrd-arm.cpio
    ;;
esac
BUILD=${1:-$VM/build}
case "$BUILD" in /*) ;; *) BUILD=$SRC/$BUILD ;; esac
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
STRIDE_SIM=2880
# The expected settings file: zoom 2 (one RED), transparency 1, palette 0, colour scheme 1
# (YELLOW held: one press), resume at subtitle 1, no band shifts.
EXPECTED_CONF="02 01 00 01 01 00 00 00 00 00 00 00 00 00 00 00"

START=$(date +%s.%N)
PASSED=0
FAILED=0
FAILURES=()

elapsed() { awk -v now="$(date +%s.%N)" -v t0="${1:-$START}" 'BEGIN { printf "%.1f", now - t0 }'; }

# check NAME COMMAND...: runs the command, prints its one-line answer, counts the result.
check() {
    local name=$1 msg rc
    shift
    msg=$("$@" 2>&1)
    rc=$?
    msg=${msg//$'\n'/; }
    if [ $rc -eq 0 ]; then
        PASSED=$((PASSED + 1))
        echo "  ok    $name${msg:+: $msg}"
    else
        FAILED=$((FAILED + 1))
        FAILURES+=("$name")
        echo "  FAIL  $name${msg:+: $msg}"
    fi
}

die() {
    echo "tests/vm: $*" >&2
    echo "vm: 0 passed, 1 failed"
    exit 1
}

install_packages() {
    bash scripts/install-deps.sh || die "installing the build dependencies failed"
    local missing=() p wanted=(qemu-system-x86 busybox-static binutils xz-utils)
    # The MIPS leg builds uinput.ko (the Malta kernel has none) and a static helper; its
    # VGA device loads the VGA BIOS, which qemu-system-mips only recommends.
    [ $ARCH = mipsel ] && wanted=(qemu-system-mips seabios binutils xz-utils make curl
        linux-kbuild-6.1 linux-source-6.1 gcc-12-mipsel-linux-gnu g++-mipsel-linux-gnu)
    # The ARM kernel has uinput; the cross binutils read its modules, and busybox packs
    # the initramfs.
    [ $ARCH = armhf ] && wanted=(qemu-system-arm busybox-static binutils-arm-linux-gnueabihf
        g++-arm-linux-gnueabihf xz-utils)
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo=sudo
        $sudo apt-get update >/dev/null || die "apt-get update failed"
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
            "${missing[@]}" >/dev/null || die "apt-get install ${missing[*]} failed"
    fi
    if [ $ARCH != x86_64 ] && ! dpkg --print-foreign-architectures | grep -qx $ARCH; then
        dpkg --add-architecture $ARCH && apt-get update >/dev/null ||
            die "adding the $ARCH architecture failed"
    fi
}

build() {
    if [ ! -f "$BUILD/CMakeCache.txt" ]; then
        cmake -S "$SRC" -B "$BUILD" -G Ninja -DLUMETRA_BENCH=OFF -DLUMETRA_TESTS=OFF \
            -DLUMETRA_WINDOW=OFF >/dev/null || die "cmake configure failed"
    fi
    cmake --build "$BUILD" -j "$(nproc)" --target lumetra lumetra-sim >"$VM/build.log" 2>&1 ||
        { tail -n 30 "$VM/build.log"; die "building lumetra failed"; }
    mkdir -p "$TOOLS"
    local cxx=g++ vmtool=$TOOLS/vmtool
    case $ARCH in
    mipsel) cxx=mipsel-linux-gnu-g++ ;;
    armhf) cxx=arm-linux-gnueabihf-g++ ;;
    esac
    [ $ARCH = x86_64 ] || vmtool=$TOOLS/vmtool-$ARCH
    if [ ! -x "$vmtool" ] || [ tests/vm/vmtool.cpp -nt "$vmtool" ]; then
        $cxx -std=c++20 -O2 -Wall -Wextra -static -o "$vmtool" tests/vm/vmtool.cpp ||
            die "building vmtool failed"
    fi
    if [ ! -x "$TOOLS/fbcheck" ] || [ tests/vm/fbcheck.cpp -nt "$TOOLS/fbcheck" ]; then
        g++ -std=c++20 -O2 -Wall -Wextra -o "$TOOLS/fbcheck" tests/vm/fbcheck.cpp -lpng ||
            die "building fbcheck failed"
    fi
}

# The box's files: the font, a subtitle file and the link naming it, no settings file.
make_box() {  # root
    mkdir -p "$1/var/tuxbox/Tresk/tit"
    cp "$FONT" "$1/var/tuxbox/Tresk/Tresk.ttf"
    cp tests/vm/film.tkx "$1/var/tuxbox/Tresk/tit/film.tkx"
    ln -s film.tkx "$1/var/tuxbox/Tresk/tit/tresk.qst"
}

# The static box binary as the box package of the architecture holds it: BOX_BINARY.
shipped_binary() {
    local ipk
    ipk=$(ls "$SRC/build-$ARCH/lumetra_"*"_$ARCH.ipk" 2>/dev/null | head -n1)
    if [ -z "$ipk" ]; then
        echo "== no $ARCH box package yet: packing one"
        bash scripts/box-package.sh --arch $ARCH >"$VM/box-package.log" 2>&1 ||
            { tail -n 30 "$VM/box-package.log"; die "packing the box package failed"; }
        ipk=$(ls "$SRC/build-$ARCH/lumetra_"*"_$ARCH.ipk" | head -n1)
    fi
    local dir=$VM/ipk-$ARCH
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$dir" && ar x "$ipk" data.tar.gz && tar -xzf data.tar.gz ./usr/bin/lumetra) ||
        die "no usr/bin/lumetra in $ipk"
    BOX_BINARY=$dir/usr/bin/lumetra
    echo "== shipped binary from $(basename "$ipk"): $(wc -c <"$BOX_BINARY") bytes"
}

# The box machine's busybox: Debian's static one for its architecture, kept in the cache.
target_busybox() {
    local deb dir=$CACHE/busybox-$ARCH
    if [ ! -x "$dir/bin/busybox" ]; then
        deb=$(cached_deb busybox-static:$ARCH) || die "no busybox-static:$ARCH"
        rm -rf "$dir"
        dpkg-deb -x "$deb" "$dir" || die "unpacking $deb failed"
    fi
    echo "$dir/bin/busybox"
}

make_initramfs() {
    local root=$VM/initramfs-$ARCH lib
    rm -rf "$root"
    mkdir -p "$root"/{bin,lib/modules/vm,vm,tmp}
    install -m 755 tests/vm/init "$root/init"
    cp "$KIT"/modules/* "$root/lib/modules/vm/"
    if [ $ARCH != x86_64 ]; then
        cp "$(target_busybox)" "$root/bin/busybox"
        cp "$TOOLS/vmtool-$ARCH" "$root/bin/vmtool"
        cp "$BOX_BINARY" "$root/bin/lumetra"
    fi
    if [ $ARCH = mipsel ]; then
        # The memory run: a two-hour film and keys that page through it at every zoom.
        awk -f tests/vm/long-film.awk >"$root/vm/long.tkx"
        memory_keys >"$root/vm/memory.keys"
    elif [ $ARCH = x86_64 ]; then
        cp /bin/busybox "$root/bin/busybox"
        cp "$TOOLS/vmtool" "$BUILD/lumetra" "$root/bin/"
        # The box binary as the project builds it, with the shared libraries it was linked with.
        for lib in $(ldd "$BUILD/lumetra" |
            awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}'); do
            mkdir -p "$root$(dirname "$lib")"
            cp -L "$lib" "$root$lib"
        done
    fi
    cp tests/vm/scenario.keys "$root/vm/keys"
    cp tests/vm/web.keys "$root/vm/web.keys"
    make_box "$root"
    (cd "$root" && find . | LC_ALL=C sort | busybox cpio -o -H newc 2>/dev/null) \
        >"$INITRD" || die "packing the initramfs failed"
}

# Keys for the memory run: play, then page through the film nine subtitles at a time,
# one zoom level further every 20 pages (the glyph cache fills at every size), then save.
memory_keys() {
    local page zoom
    echo "wait 1500"
    echo "tap A"
    echo "tap OK"
    # The first subtitle, in both languages.
    echo "wait 1500"
    echo "dump both"
    for zoom in 1 2 3 4 5 6 7 8; do
        for page in $(seq 20); do
            echo "tap UP"
            echo "wait 150"
        done
        echo "tap RED"
        echo "wait 300"
    done
    echo "tap EXIT"
    echo "wait 700"
    echo "tap YELLOW"
    echo "waitclose"
}

# Screen dumps the guest asks for: it writes NAME.shot into the share and waits for NAME.ack.
serve_shots() {  # run folder
    local dir=$1 req name prompts
    for req in "$dir"/share/*.shot; do
        [ -e "$req" ] || continue
        name=$(basename "$req" .shot)
        [ -e "$dir/share/$name.ack" ] && continue
        prompts=$(grep -o '(qemu)' "$dir/monitor.log" 2>/dev/null | wc -l)
        echo "screendump $dir/$name.ppm" >&"$MON"
        local waited=0
        # The monitor prints its next prompt once the dump is written.
        while [ "$(grep -o '(qemu)' "$dir/monitor.log" | wc -l)" -le "$prompts" ] &&
            [ $waited -lt 300 ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
        touch "$dir/share/$name.ack"
    done
}

# run_vm NAME VGA-DEVICE RUN [QEMU-ARGS...]: boots the machine once; the guest's init runs RUN.
run_vm() {
    local name=$1 vga=$2 run=$3 dir=$OUT/$1 t0
    shift 3
    local extra=("$@")
    t0=$(date +%s.%N)
    rm -rf "$dir"
    mkdir -p "$dir/share"
    mkfifo "$dir/mon.in" "$dir/mon.out"
    # no_timer_check: a busy host can make the emulated timer look broken to the kernel.
    local cmdline="console=ttyS0 panic=-1 no_timer_check vt.global_cursor_default=0"
    cmdline+=" consoleblank=0 vmtest=$run"
    local machine=(qemu-system-x86_64 -accel tcg -M pc -m 512 -smp "$VM_SMP")
    case $ARCH in
    mipsel)
        # The Malta board has one CPU and the box's 32-bit little-endian MIPS; its memory
        # stays below the 256 MB its kernel can reach without highmem.
        machine=(qemu-system-mipsel -M malta -m 256)
        ;;
    armhf)
        # One Cortex-A15 and the memory of a small box. The armmp kernel has no LPAE:
        # with the high PCI window it cannot reach the PCI bus (no display, no share).
        machine=(qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -m 256 -smp 1)
        cmdline="console=ttyAMA0 panic=-1 vt.global_cursor_default=0 consoleblank=0 vmtest=$run"
        # qemu-system-arm has no VGA BIOS files; the virt board needs none.
        vga+=",romfile="
        ;;
    esac
    "${machine[@]}" -nodefaults -no-reboot \
        -display none -vga none -device "$vga" \
        -serial "file:$dir/serial.log" -monitor "pipe:$dir/mon" \
        -kernel "$KIT/vmlinux" -initrd "$INITRD" \
        -append "$cmdline" \
        -virtfs "local,path=$dir/share,mount_tag=out,security_model=none,id=out" \
        ${extra[@]+"${extra[@]}"} >"$dir/qemu.log" 2>&1 &
    local qemu=$!
    exec {MON}<>"$dir/mon.in"
    cat "$dir/mon.out" >"$dir/monitor.log" &
    local reader=$!
    local deadline=$((SECONDS + VM_TIMEOUT))
    while kill -0 $qemu 2>/dev/null; do
        serve_shots "$dir"
        sleep 0.1
        if [ $SECONDS -ge $deadline ]; then
            echo "  $name: no end after $VM_TIMEOUT s, stopping it (registers in monitor.log)"
            echo "info registers -a" >&"$MON"
            sleep 1
            echo quit >&"$MON"
            sleep 2
            kill $qemu 2>/dev/null
            break
        fi
    done
    wait $qemu
    local status=$?
    exec {MON}>&-
    kill $reader 2>/dev/null
    wait $reader 2>/dev/null
    rm -f "$dir/mon.in" "$dir/mon.out"
    local boot
    boot=$(tr -d '\r' <"$dir/serial.log" | sed -n 's/^VMTEST player start \[\(.*\)\]$/\1/p')
    echo "== $name ($vga, vmtest=$run): machine ended with status $status after $(elapsed "$t0") s;" \
        "the player started at ${boot:-?} s of the machine's uptime"
    [ $status -eq 0 ] || sed 's/^/   qemu: /' "$dir/qemu.log"
}

# The web run's other half: the host, as a phone would, pairs with the player in the
# machine through the forwarded port, uploads a Windows-1250 SubRip file, waits for its
# conversion, chooses it and steps to its first subtitle, asking the machine for a
# framebuffer dump before and after the step; then ends the player through the page's
# keys. Each request's status goes to web.txt ("step status"), the bodies to web.log.
drive_web() {  # port
    local port=$1 dir=$OUT/web base="http://127.0.0.1:$1" code="" deadline
    local log=$dir/serial.log jar=$dir/cookies
    request() {  # step, curl arguments...
        local step=$1 status
        shift
        status=$(curl -s -m 30 -o "$dir/$step.body" -w '%{http_code}' -b "$jar" -c "$jar" "$@")
        echo "$step $status" >>"$dir/web.txt"
        { echo "== $step $status"; cat "$dir/$step.body"; echo; } >>"$dir/web.log"
    }
    wait_for_line() {  # pattern, seconds
        local until=$((SECONDS + $2))
        while ! tr -d '\r' <"$log" 2>/dev/null | grep -q "$1"; do
            [ $SECONDS -ge $until ] && return 1
            sleep 0.5
        done
    }
    # The machine and its directory appear once run_vm has started it.
    deadline=$((SECONDS + 60))
    while [ ! -f "$log" ] && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
    wait_for_line '^web: listening on ' 300 || { echo "listening missing" >>"$dir/web.txt"; return; }
    request ask -X POST -H 'Content-Type: application/json' --data '' "$base/api/pair"
    wait_for_line '^web: pairing code [0-9]\{6\}$' 60
    code=$(tr -d '\r' <"$log" | sed -n 's/^web: pairing code \([0-9]\{6\}\)$/\1/p' | tail -n1)
    request pair -X POST -H 'Content-Type: application/json' --data "{\"code\":\"$code\"}" \
        "$base/api/pair"
    request upload -X PUT --data-binary @tests/samples/convert/czech-short-1250.srt \
        "$base/api/files/ceske.srt"
    deadline=$((SECONDS + 120))
    until grep -q '"klaar"' "$dir/state.body" 2>/dev/null || [ $SECONDS -ge $deadline ]; do
        sleep 1
        curl -s -m 10 -b "$jar" -o "$dir/state.body" "$base/api/state"
    done
    # A second, larger upload: the two-hour film of the memory run (107 KB).
    request upload2 -X PUT --data-binary @"$VM/initramfs-$ARCH/vm/long.tkx" "$base/api/files/lang.tkx"
    request files "$base/api/files"
    request choose -X POST "$base/api/files/ceske/choose"
    touch "$dir/share/before.go"
    deadline=$((SECONDS + 60))
    while [ ! -f "$dir/share/before.info" ] && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
    request right -X POST -H 'Content-Type: application/json' --data '{"key":"RIGHT"}' \
        "$base/api/key"
    rm -f "$dir/state.body"
    deadline=$((SECONDS + 60))
    until grep -q '"file":"ceske".*"subtitle":"[^"]' "$dir/state.body" 2>/dev/null ||
        [ $SECONDS -ge $deadline ]; do
        sleep 0.5
        curl -s -m 10 -b "$jar" -o "$dir/state.body" "$base/api/state"
    done
    cp "$dir/state.body" "$dir/shown.body"
    touch "$dir/share/after.go"
    deadline=$((SECONDS + 60))
    while [ ! -f "$dir/share/after.info" ] && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
    # EXIT asks; its OK closes without saving.
    request exit -X POST -H 'Content-Type: application/json' --data '{"key":"EXIT"}' "$base/api/key"
    # The prompt drops keys that come while it opens: OK again until the player has gone.
    local tries
    for tries in 1 2 3 4 5 6; do
        sleep 2
        curl -s -m 10 -b "$jar" -o /dev/null -X POST -H 'Content-Type: application/json' \
            --data '{"key":"OK"}' "$base/api/key" || break
    done
}

check_web() {
    local dir=$OUT/web log=$OUT/web/serial.log stride step
    echo "== checks: web"
    check "web: player exit status 0" check_equal "$(exit_status "$log")" 0
    check "web: the server listened on the box's port" \
        grep -qx 'web: listening on 0.0.0.0:8765' <(player_lines "$log")
    for step in "ask 200" "pair 200" "upload 201" "upload2 201" "files 200" "choose 200" "right 200" \
        "exit 200"; do
        check "web: request ${step% *} answered ${step#* }" grep -qx "$step" "$dir/web.txt"
    done
    check "web: the upload converted and listed" grep -q '"ceske"' "$dir/files.body"
    # RIGHT from the chosen file's start goes to its second line.
    check "web: the page reads the chosen file's subtitle shown" \
        grep -q '"file":"ceske".*"subtitle":"Děkuji, Šárko\."' "$dir/shown.body"
    check "web: the converted file in the subtitle directory" grep -qx 'ceske.tkx' "$dir/share/tit.txt"
    stride=$(info_value "$dir/share/after.info" line_length)
    check "web: no subtitle in the band before the step" \
        "$TOOLS/fbcheck" dark "$dir/share/before.raw" "${stride:-0}" 82 526
    check "web: the chosen file's first subtitle in the band after it" \
        "$TOOLS/fbcheck" lit "$dir/share/after.raw" "${stride:-0}" 82 526 200
    "$TOOLS/fbcheck" png "$dir/share/after.raw" "${stride:-0}" "$dir/after.png" >/dev/null 2>&1
    local share=$dir/share hwm fbmap
    check "web: memory peak sampled" test -s "$share/peak.smaps"
    [ -s "$share/peak.smaps" ] || return 0
    hwm=$(kb "$share/peak.status" VmHWM)
    fbmap=$(smaps_rss "$share/peak.smaps" '^/dev/fb')
    echo "with the server pairing and taking two uploads (the larger 107 KB): VmHWM $hwm kB," \
        "outside the framebuffer mapping $((hwm - fbmap)) kB, threads $(kb "$share/peak.status" Threads)" |
        tee "$dir/memory.txt" | sed 's/^/  web: /'
    check "web: peak resident outside the framebuffer <= 6 MB" test $((hwm - fbmap)) -le 6144
}

# The player's own lines of a run: what the console shows between its start and its end,
# less kernel messages (which begin with their time stamp).
player_lines() {  # serial log
    tr -d '\r' <"$1" | sed -n '/VMTEST player start/,/VMTEST exit/p' | sed '1d;$d' |
        sed 's/^\.*//' | grep -Ev '^$|^\[ *[0-9]+\.[0-9]+\] '
}

# The player's lines less the version line and the web server's line every start prints.
diagnostics() {  # serial log
    player_lines "$1" | grep -Ev '^fb_init: FreeType library [0-9]+\.[0-9]+\.[0-9]+$' |
        grep -vx 'web: listening on 0\.0\.0\.0:8765'
}

exit_status() {  # serial log
    tr -d '\r' <"$1" | sed -n 's/.*VMTEST exit \([0-9]*\).*/\1/p' | tail -n1
}

conf_bytes() {  # file
    od -An -v -tx1 "$1" 2>/dev/null | tr -s ' \n' ' ' | sed 's/^ //;s/ $//'
}

check_equal() {  # got, expected
    if [ "$1" = "$2" ]; then
        echo "$1"
        return 0
    fi
    echo "got '$1', expected '$2'"
    return 1
}

info_value() {  # dump info file, field
    sed -n "s/^$2 //p" "$1"
}

check_scenario() {  # run name, driver stride
    local name=$1 stride=$2 dir=$OUT/$1 log=$OUT/$1/serial.log
    echo "== checks: $name"
    check "$name: machine reached the scenario" grep -q 'VMTEST player start' "$log"
    check "$name: player exit status 0" check_equal "$(exit_status "$log")" 0
    check "$name: key script played to the end" grep -q 'VMTEST keys 0' "$log"
    check "$name: FreeType version line on the console" \
        grep -Eq '^fb_init: FreeType library [0-9]+\.[0-9]+\.[0-9]+$' <(player_lines "$log")
    check "$name: no other diagnostics" check_equal \
        "$(diagnostics "$log")" ""
    local shot
    for shot in help held playing restyled prompt; do
        if [ -f "$dir/share/$shot.info" ]; then
            check "$name: driver line length at '$shot'" \
                check_equal "$(info_value "$dir/share/$shot.info" line_length)" "$stride"
        fi
        check "$name: '$shot' equals the simulator" \
            "$TOOLS/fbcheck" same "$dir/share/$shot.raw" "$stride" "$OUT/sim/$shot.raw" $STRIDE_SIM
        "$TOOLS/fbcheck" png "$dir/share/$shot.raw" "$stride" "$dir/$shot.png" >/dev/null 2>&1
    done
    check "$name: a subtitle in the band at 'playing'" \
        "$TOOLS/fbcheck" lit "$dir/share/playing.raw" "$stride" 82 526 200
    # OK held for a second toggled the clock once: it runs, so its status line has gone.
    check "$name: held OK started the clock once (no status line at 'held')" \
        "$TOOLS/fbcheck" dark "$dir/share/held.raw" "$stride" 50 82
    check "$name: a subtitle in the band at 'held'" \
        "$TOOLS/fbcheck" lit "$dir/share/held.raw" "$stride" 82 526 200
    for shot in playing restyled; do
        check "$name: screen dump '$shot' shows the framebuffer" \
            "$TOOLS/fbcheck" scanout "$dir/$shot.ppm" "$dir/share/$shot.raw" "$stride"
    done
    check "$name: framebuffer cleared at exit" "$TOOLS/fbcheck" zero "$dir/share/after.raw"
    check "$name: settings file" \
        check_equal "$(conf_bytes "$dir/share/tresk.conf")" "$EXPECTED_CONF"
}

check_norc() {
    local log=$OUT/norc/serial.log
    echo "== checks: norc"
    check "norc: player exit status 1" check_equal "$(exit_status "$log")" 1
    check "norc: 'rc_init: No RC?' on the console" grep -q '^rc_init: No RC?' <(player_lines "$log")
    # The display was up: its shut-down clears the screen and writes the settings,
    # keeping the stored resume position (no settings file here: 0).
    check "norc: framebuffer cleared at exit" "$TOOLS/fbcheck" zero "$OUT/norc/share/after.raw"
    check "norc: settings file" check_equal "$(conf_bytes "$OUT/norc/share/tresk.conf")" \
        "01 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
}

# The 8-bit display (the Malta board's own Cirrus chip): the player must refuse it, say so
# and end with status 1 before it maps the memory, writing no settings.
check_depth() {
    local log=$OUT/depth/serial.log
    echo "== checks: depth"
    check "depth: fb0 starts at 8 bits per pixel" grep -q 'VMTEST fb0 depth 8$' <(tr -d '\r' <"$log")
    check "depth: player exit status 1" check_equal "$(exit_status "$log")" 1
    # Cirrus's driver turns 32 bits at 720 x 576 down (EINVAL).
    check "depth: the refusal, and nothing else, on the console" check_equal \
        "$(diagnostics "$log")" \
        "fb_init: 8 bits per pixel, 32 refused (driver offers 8 bpp): Invalid argument"
    check "depth: no settings file" test ! -e "$OUT/depth/share/tresk.conf"
}

kb() {  # file, field
    awk -v f="$2:" '$1 == f { print $2; exit }' "$1"
}

# Resident kB of the mappings in smaps whose name matches a pattern (awk regex).
smaps_rss() {  # smaps, pattern
    awk -v pat="$2" '
        /^[0-9a-f]+-[0-9a-f]+ / { name = $6; keep = (name ~ pat) }
        keep && $1 == "Rss:" { sum += $2 }
        END { print sum + 0 }' "$1"
}

# The memory figures of the two-hour film: printed, kept in memory.txt, and the peak
# resident set outside the framebuffer mapping held against its ceiling.
check_memory() {
    local dir=$OUT/memory log=$OUT/memory/serial.log share=$OUT/memory/share
    echo "== checks: memory"
    check "memory: player exit status 0" check_equal "$(exit_status "$log")" 0
    check "memory: key script played to the end" grep -q 'VMTEST keys 0' "$log"
    check "memory: peak sampled" test -s "$share/peak.smaps"
    # The second language at the top of the band, the first at its bottom.
    local stride
    stride=$(info_value "$share/both.info" line_length)
    check "memory: the second language's first subtitle at the top" \
        "$TOOLS/fbcheck" lit "$share/both.raw" "${stride:-0}" 82 200 200
    check "memory: the first language's first subtitle at the bottom" \
        "$TOOLS/fbcheck" lit "$share/both.raw" "${stride:-0}" 400 526 200
    "$TOOLS/fbcheck" png "$share/both.raw" "${stride:-0}" "$dir/both.png" >/dev/null 2>&1
    [ -s "$share/peak.smaps" ] || return 0
    local hwm rss dirty fbmap binary heap anon stack
    hwm=$(kb "$share/peak.status" VmHWM)
    rss=$(kb "$share/peak.status" VmRSS)
    dirty=$(kb "$share/peak.smaps_rollup" Private_Dirty)
    fbmap=$(smaps_rss "$share/peak.smaps" '^/dev/fb')
    binary=$(smaps_rss "$share/peak.smaps" '/lumetra$')
    heap=$(smaps_rss "$share/peak.smaps" '^\[heap\]$')
    stack=$(smaps_rss "$share/peak.smaps" '^\[stack\]$')
    # Mappings without a name: large blocks from malloc and the subtitle thread's stack.
    anon=$(smaps_rss "$share/peak.smaps" '^$')
    local subs
    subs=$(grep -c '^{' "$VM/initramfs-$ARCH/vm/long.tkx")
    {
        echo "two-hour film, $subs subtitles, with a second language as long, 720x576, every zoom" \
            "level; at the largest resident set:"
        echo "VmHWM $hwm kB, VmRSS $rss kB, Private_Dirty $dirty kB"
        echo "framebuffer mapping $fbmap kB, binary $binary kB, heap $heap kB," \
            "anonymous $anon kB, stack $stack kB"
        echo "outside the framebuffer mapping: $((rss - fbmap)) kB (VmHWM less mapping $((hwm - fbmap)) kB)"
    } | tee "$dir/memory.txt" | sed 's/^/  memory: /'
    check "memory: peak resident outside the framebuffer <= 6 MB" \
        test $((hwm - fbmap)) -le 6144
}

run_sim() {
    local dir=$OUT/sim t0
    t0=$(date +%s.%N)
    rm -rf "$dir"
    mkdir -p "$dir/root"
    make_box "$dir/root"
    awk -f tests/vm/sim-script.awk tests/vm/scenario.keys >"$dir/scenario.sim"
    (cd "$dir" && "$BUILD/lumetra-sim" --headless --root root --mode 720x576 \
        --keys scenario.sim --timeout 60 >stdout.log 2>stderr.log)
    echo $? >"$dir/status"
    echo "== simulator: status $(cat "$dir/status") after $(elapsed "$t0") s"
}

main() {
    # Seconds a machine may run; the vCPUs of each (one, like the box's single core).
    # The emulated MIPS machine is slower, and its memory run plays for about a minute.
    local timeout=180
    [ $ARCH = mipsel ] && timeout=360
    [ $ARCH = armhf ] && timeout=300
    VM_TIMEOUT=${VM_TIMEOUT:-$timeout}
    VM_SMP=${VM_SMP:-1}
    mkdir -p "$CACHE" "$OUT"
    local t
    t=$(date +%s.%N)
    install_packages
    echo "== host packages ready after $(elapsed "$t") s"
    t=$(date +%s.%N)
    build
    echo "== lumetra built in $BUILD after $(elapsed "$t") s"
    t=$(date +%s.%N)
    # shellcheck source=tests/vm/kernel.sh
    case $ARCH in
    mipsel)
        KERNEL_ARCH=mipsel KERNEL_FLAVOUR=4kc-malta
        source tests/vm/kernel.sh
        VM_MODULES=(bochs evdev virtio_pci 9pnet_virtio 9p virtio_net)
        BUILT_MODULES=(uinput)
        shipped_binary
        ;;
    armhf)
        KERNEL_ARCH=armhf KERNEL_FLAVOUR=armmp
        source tests/vm/kernel.sh
        shipped_binary
        ;;
    *)
        source tests/vm/kernel.sh
        ;;
    esac
    # The cache is the machine's: another run may be filling it at the same time.
    local lock
    exec {lock}>"$CACHE/lock"
    flock "$lock"
    kernel_kit || die "no kernel"
    echo "== kernel $(basename "$KIT") ready after $(elapsed "$t") s"
    make_initramfs
    exec {lock}>&-

    # The shared scenario: these runs and their checks below (check_scenario, check_norc)
    # are the same on both legs, so a check added to them, such as one for a held key,
    # holds the MIPS kernel to it too. The machines mostly sleep: run them side by side.
    run_sim &
    run_vm pal "VGA,edid=on,xres=720,yres=576" play &
    run_vm wide "VGA" play &
    run_vm norc "VGA,edid=on,xres=720,yres=576" norc &
    if [ $ARCH = mipsel ]; then
        # Then two more: four emulated MIPS machines at once are plenty for two cores.
        wait
        run_vm depth "cirrus-vga" norc &
        run_vm memory "VGA,edid=on,xres=720,yres=576" memory &
        local port
        port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
        rm -rf "$OUT/web"
        run_vm web "VGA,edid=on,xres=720,yres=576" web \
            -nic "user,model=virtio-net-pci,hostfwd=tcp:127.0.0.1:$port-10.0.2.15:8765" &
        drive_web "$port" &
    fi
    wait

    echo "== checks: simulator"
    check "sim: exit status 0" check_equal "$(cat "$OUT/sim/status")" 0
    check "sim: settings file" \
        check_equal "$(conf_bytes "$OUT/sim/root/var/tuxbox/Tresk/tresk.conf")" "$EXPECTED_CONF"
    check_scenario pal 2880
    check_scenario wide 5120
    check_norc
    if [ $ARCH = mipsel ]; then
        check_depth
        check_memory
        check_web
    fi

    echo "== VM test took $(elapsed) s; files in $OUT"
    if [ $FAILED -gt 0 ]; then
        echo "== failed: ${FAILURES[*]}"
    fi
    echo "vm: $PASSED passed, $FAILED failed"
    [ $FAILED -eq 0 ]
}

main "$@"
