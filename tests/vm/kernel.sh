# Sourced by run.sh: Debian's 6.1 kernel for the test machine, fetched once and kept in $CACHE.
#   kernel_kit  -> sets KIT to a folder holding vmlinux, modules/*.ko and modules/order
# KERNEL_ARCH and KERNEL_FLAVOUR choose the kernel: amd64/amd64 (the default),
# mipsel/4kc-malta or armhf/armmp. Modules the flavour's kernel lacks (BUILT_MODULES, each with its
# build_NAME function) are built out of tree against the package's headers.
KERNEL_ARCH=${KERNEL_ARCH:-amd64}
KERNEL_FLAVOUR=${KERNEL_FLAVOUR:-amd64}

# The modules the test needs; their dependencies are added from the .ko files.
VM_MODULES=(bochs evdev uinput virtio_pci 9pnet_virtio 9p virtio_net)
# Where in the package they and their dependencies live; unpacking only these folders is
# quicker than unpacking all. Should a dependency lie elsewhere, the whole package is unpacked.
VM_MODULE_DIRS=(drivers/gpu/drm drivers/video drivers/input drivers/virtio net/9p fs/9p fs/netfs fs/fscache
    drivers/net net/core)

# The package name of the newest 6.1 kernel of the flavour Debian offers.
kernel_package() {
    local pkg
    pkg=$(apt-cache depends "linux-image-$KERNEL_FLAVOUR:$KERNEL_ARCH" 2>/dev/null |
        sed -n "s/^ *Depends: \(linux-image-6\.1\.[0-9.-]*-$KERNEL_FLAVOUR\)\(:$KERNEL_ARCH\)\{0,1\}$/\1/p" |
        head -n1)
    if [ -z "$pkg" ]; then
        pkg=$(apt-cache search --names-only "^linux-image-6\.1\.[0-9.-]*-$KERNEL_FLAVOUR\$" 2>/dev/null |
            awk '{print $1}' | sort -V | tail -n1)
    fi
    echo "$pkg"
}

# Downloads a package into the cache once: PACKAGE[:ARCH] -> prints the .deb's path.
# The same package for two architectures (busybox-static) gets a file each.
cached_deb() {
    local package=$1 name=${1%%:*} glob deb
    glob="${name}_*.deb"
    [ "$package" = "$name" ] || glob="${name}_*_${package#*:}.deb"
    deb=$(ls "$CACHE/"$glob 2>/dev/null | head -n1)
    if [ -z "$deb" ]; then
        # apt's unprivileged download user may not write into the cache.
        local as_root=()
        [ "$(id -u)" -eq 0 ] && as_root=(-o APT::Sandbox::User=root)
        (cd "$CACHE" && apt-get download "${as_root[@]}" "$package" >"$CACHE/download.log" 2>&1) ||
            { cat "$CACHE/download.log" >&2; echo "apt-get download $package failed" >&2; return 1; }
        deb=$(ls "$CACHE/"$glob | head -n1)
    fi
    echo "$deb"
}

# uinput.ko for a kernel built without it: its source from linux-source-6.1, compiled
# against the kernel package's headers with the host's kbuild and the cross compiler.
build_uinput() {  # kernel release (6.1.0-N-FLAVOUR), output folder
    local release=$1 out=$2 common=linux-headers-${1%-"$KERNEL_FLAVOUR"}-common deb tree
    tree=$(mktemp -d "$CACHE/uinput.XXXXXX")
    for deb in "linux-headers-$release:$KERNEL_ARCH" "$common"; do
        deb=$(cached_deb "$deb") || { rm -rf "$tree"; return 1; }
        dpkg-deb -x "$deb" "$tree"
    done
    local headers=$tree/usr/src/linux-headers-$release d
    # The headers name the host's kbuild relatively, and their common half absolutely.
    for d in "$headers" "$tree/usr/src/$common"; do
        ln -sfn /usr/lib/linux-kbuild-6.1/scripts "$d/scripts"
        ln -sfn /usr/lib/linux-kbuild-6.1/tools "$d/tools"
    done
    sed -i "s|/usr/src/|$tree/usr/src/|" "$headers/Makefile"
    mkdir -p "$tree/src"
    tar -xJf /usr/src/linux-source-6.1.tar.xz -C "$tree/src" --strip-components=2 \
        linux-source-6.1/drivers/input/misc/uinput.c linux-source-6.1/drivers/input/input-compat.h ||
        { rm -rf "$tree"; return 1; }
    echo 'obj-m := uinput.o' >"$tree/src/input/misc/Kbuild"
    if ! make -C "$headers" M="$tree/src/input/misc" DEB_BUILD_ARCH=amd64 \
        DEB_HOST_ARCH="$KERNEL_ARCH" DEB_HOST_GNU_TYPE="$KERNEL_ARCH-linux-gnu" modules \
        >"$CACHE/uinput-build.log" 2>&1; then
        tail -n 20 "$CACHE/uinput-build.log" >&2
        rm -rf "$tree"
        return 1
    fi
    cp "$tree/src/input/misc/uinput.ko" "$out/uinput.ko"
    rm -rf "$tree"
}

# The protected-mode payload of a bzImage, decompressed: the kernel's own ELF image, which
# QEMU boots through its PVH entry without running the decompressor in the guest.
extract_vmlinux() {  # bzImage, output
    local img=$1 out=$2 setup_sects offset length
    setup_sects=$(od -An -tu1 -j $((0x1f1)) -N1 "$img" | tr -d ' ')
    offset=$(od -An -tu4 -j $((0x248)) -N4 "$img" | tr -d ' ')
    length=$(od -An -tu4 -j $((0x24c)) -N4 "$img" | tr -d ' ')
    [ "$setup_sects" -eq 0 ] && setup_sects=4
    local start=$(((setup_sects + 1) * 512 + offset))
    local magic
    magic=$(od -An -tx1 -j "$start" -N6 "$img" | tr -d ' ')
    local unpack
    case "$magic" in
    fd377a585a00) unpack="xz -dc --single-stream" ;;
    28b52ffd*) unpack="zstd -dcq" ;;
    1f8b*) unpack="gzip -dc" ;;
    *)
        echo "unknown kernel compression (magic $magic)" >&2
        return 1
        ;;
    esac
    # The payload ends with the decompressed size; the decompressors stop at the stream end.
    tail -c +$((start + 1)) "$img" | head -c "$length" | $unpack >"$out" 2>/dev/null || true
    # XEN_ELFNOTE_PHYS32_ENTRY (18), which newer readelf versions call by name.
    if ! readelf -n "$out" 2>/dev/null | grep -Eq 'note type: \(0x00000012\)|PHYS32_ENTRY'; then
        echo "the kernel image has no PVH entry note" >&2
        return 1
    fi
}

modinfo_depends() {  # .ko file
    local tmp
    tmp=$(mktemp)
    # The host's objcopy reads only its own architecture's files.
    local objcopy=objcopy
    case "$KERNEL_ARCH" in
    amd64) ;;
    armhf) objcopy=arm-linux-gnueabihf-objcopy ;;
    *) objcopy=$KERNEL_ARCH-linux-gnu-objcopy ;;
    esac
    $objcopy -O binary --only-section=.modinfo "$1" "$tmp" ||
        echo "modinfo of $1 unreadable" >&2
    tr '\0' '\n' <"$tmp" | sed -n 's/^depends=//p' | tr ',' ' '
    rm -f "$tmp"
}

# Appends a module's dependencies, then the module itself, to ORDER (each once).
resolve_module() {  # name (underscores), modules folder
    local name=$1 dir=$2 file dep
    case " ${ORDER[*]} " in *" $name "*) return 0 ;; esac
    file=${MODPATH[$name]:-}
    if [ -z "$file" ]; then
        echo "module $name not in the kernel package" >&2
        return 1
    fi
    for dep in $(modinfo_depends "$dir/$file"); do
        resolve_module "$dep" "$dir" || return 1
    done
    case " ${ORDER[*]} " in *" $name "*) return 0 ;; esac
    ORDER+=("$name")
}

# Sets ORDER to VM_MODULES with their dependencies, each after what it needs, and MODDIR
# and MODPATH to where their files are in the unpacked package.
modules_in_order() {  # unpacked package
    MODDIR=$(ls -d "$1"/lib/modules/*/)
    declare -gA MODPATH=()
    local rel base m
    while read -r rel; do
        base=$(basename "$rel" .ko)
        MODPATH[${base//-/_}]=$rel
    done < <(cd "$MODDIR" && find kernel -name '*.ko')
    ORDER=()
    for m in "${VM_MODULES[@]}"; do
        resolve_module "$m" "$MODDIR" || return 1
    done
}

kernel_kit() {
    local existing wanted="${VM_MODULES[*]} ${BUILT_MODULES[*]+${BUILT_MODULES[*]}}"
    existing=$(ls -d "$CACHE"/kernel-*-"$KERNEL_FLAVOUR"/ready 2>/dev/null | sort -V | tail -n1)
    # A kit made for another set of modules is made again.
    if [ -n "$existing" ] && [ "$(cat "$existing")" = "$wanted" ]; then
        KIT=$(dirname "$existing")
        return 0
    fi
    local pkg
    pkg=$(kernel_package)
    if [ -z "$pkg" ]; then
        apt-get update >/dev/null
        pkg=$(kernel_package)
    fi
    [ -n "$pkg" ] || { echo "no linux-image-6.1.*-$KERNEL_FLAVOUR package found" >&2; return 1; }
    KIT=$CACHE/kernel-${pkg#linux-image-}
    echo "== kernel: fetching $pkg"
    local deb
    deb=$(cached_deb "$pkg:$KERNEL_ARCH") || return 1
    local tree
    tree=$(mktemp -d "$CACHE/unpack.XXXXXX")
    local patterns=('./boot/vmlinuz-*') d
    for d in "${VM_MODULE_DIRS[@]}"; do patterns+=("./lib/modules/*/kernel/$d/*"); done
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tree" --wildcards "${patterns[@]}"
    rm -rf "$KIT"
    mkdir -p "$KIT/modules"
    if [ "$KERNEL_ARCH" = amd64 ]; then
        extract_vmlinux "$(ls "$tree"/boot/vmlinuz-*)" "$KIT/vmlinux" || { rm -rf "$tree"; return 1; }
    else
        # The MIPS kernel is an ELF file and the ARM one a zImage that decompresses
        # itself: QEMU loads either as it is.
        cp "$(ls "$tree"/boot/vmlinuz-*)" "$KIT/vmlinux"
    fi
    if ! modules_in_order "$tree" 2>/dev/null; then
        dpkg-deb -x "$deb" "$tree"
        modules_in_order "$tree" || { rm -rf "$tree"; return 1; }
    fi
    local m
    for m in "${ORDER[@]}"; do
        cp "$MODDIR/${MODPATH[$m]}" "$KIT/modules/$m.ko"
        echo "$m" >>"$KIT/modules/order"
    done
    rm -rf "$tree"
    for m in ${BUILT_MODULES[@]+"${BUILT_MODULES[@]}"}; do
        echo "== kernel: building $m.ko"
        "build_$m" "${pkg#linux-image-}" "$KIT/modules" || return 1
        echo "$m" >>"$KIT/modules/order"
    done
    echo "$wanted" >"$KIT/ready"
}
