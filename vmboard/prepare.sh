#!/usr/bin/env bash
# Prepares the real-kernel board in OUT (default build-vm/): Debian's arm64
# kernel, our board module built against its headers, a Debian arm64 root
# file system with the tool's own arm64 package installed, a blank SD card
# and the labgrid environment that boots it all under QEMU:
#   vmboard/prepare.sh [OUT]
# One step a function, each skipped when what it makes is there and newer
# than what it is made from. Needs root (the root file system's chroot).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
vmboard=$repo/vmboard
out=$(mkdir -p "${1:-$repo/build-vm}" && cd "${1:-$repo/build-vm}" && pwd)
suite=bookworm
triplet=aarch64-linux-gnu

step() { echo "== vmboard: $*"; }
die() { echo "vmboard: $*" >&2; exit 1; }
# fresh OUTPUT INPUT...: OUTPUT exists and is newer than every INPUT.
fresh() {
    local output=$1 input
    shift
    [ -e "$output" ] || return 1
    for input in "$@"; do
        [ "$input" -nt "$output" ] && return 1
    done
    return 0
}

# The archive's answer for every package a kernel choice needs: the
# versions of linux-image-arm64:arm64, of each image it has named, their
# headers and common halves, and the build machine's kbuild tools.
kernel_madison() {
    local image abi pkgs=(linux-image-arm64:arm64)
    for image in $(apt-cache show linux-image-arm64:arm64 2>/dev/null |
        sed -n 's/^Depends: \(linux-image-[^ ,:]*\).*/\1/p' | sort -u); do
        abi=${image#linux-image-}
        pkgs+=("$image:arm64" "linux-headers-$abi:arm64" "linux-headers-${abi%-arm64}-common"
            "linux-kbuild-${abi%%.0-*}:amd64")
    done
    apt-cache madison "${pkgs[@]}" 2>/dev/null
}

# kpkgver kver kbuildver: the kernel choose-kernel.sh takes from the archive
# (or VMBOARD_KERNEL pins), and kbuild, the name of its kbuild package.
kernel_choice() {
    local choice
    choice=$(kernel_madison | bash "$vmboard/choose-kernel.sh" "${VMBOARD_KERNEL:-}") ||
        die "no kernel can be prepared from the archive as it is (see above)"
    read -r kpkgver kver kbuildver <<<"$choice"
    kbuild=linux-kbuild-${kver%%.0-*}
}

# kernel/: the image, its modules and headers, and the kbuild tools,
# unpacked, never installed. The new kernel is fetched and checked beside
# the old one, which is replaced only then.
fetch_kernel() {
    local dir=$out/kernel new=$out/kernel.new deb
    kernel_choice
    if [ "$(cat "$dir/VERSION" 2>/dev/null)" = "$kver $kpkgver $kbuildver" ]; then return; fi
    step "kernel $kver ($kpkgver), kbuild tools $kbuildver"
    rm -rf "$new" && mkdir -p "$new/debs" "$new/root"
    (cd "$new/debs" && apt-get download -q=2 "linux-image-$kver:arm64=$kpkgver" \
        "linux-headers-$kver:arm64=$kpkgver" "linux-headers-${kver%-arm64}-common=$kpkgver" \
        "$kbuild:amd64=$kbuildver") >"$new/download.log" 2>&1 ||
        { grep -v unsandboxed "$new/download.log" >&2
          die "the kernel's packages could not be downloaded (apt's message above): run apt-get update, or pin another kernel with VMBOARD_KERNEL=<version> (vmboard/README.md)"; }
    for deb in "$new"/debs/*.deb; do
        dpkg-deb -x "$deb" "$new/root" || die "dpkg-deb could not unpack $deb"
    done
    local want
    for want in "boot/vmlinuz-$kver" "lib/modules/$kver/modules.order" \
        "usr/src/linux-headers-$kver/Makefile" "usr/lib/$kbuild/scripts/basic/fixdep"; do
        [ -e "$new/root/$want" ] || die "the kernel's packages lack $want: not prepared"
    done
    # The headers include their common half by its installed path.
    sed -i "s|/usr/src/|$dir/root/usr/src/|" "$new/root/usr/src/linux-headers-$kver/Makefile"
    ln -sf "root/boot/vmlinuz-$kver" "$new/vmlinuz"
    echo "$kver $kpkgver $kbuildver" >"$new/VERSION"
    rm -rf "$dir.old"
    if [ -e "$dir" ]; then mv "$dir" "$dir.old"; fi
    mv "$new" "$dir"
    rm -rf "$dir.old"
}

# camboard/camboard.ko: our board module, out of tree against the headers.
build_module() {
    local dir=$out/camboard
    fresh "$dir/camboard.ko" "$vmboard"/camboard/* "$out/kernel/VERSION" && return
    step "camboard.ko"
    rm -rf "$dir" && mkdir -p "$dir"
    cp "$vmboard"/camboard/* "$dir/"
    make -s -C "$out/kernel/root/usr/src/linux-headers-$kver" M="$dir" ARCH=arm64 \
        CROSS_COMPILE=$triplet- modules 2>&1 | { grep -v 'Skipping BTF' || true; } ||
        die "camboard.ko was not built"
}

# hw/libpreload_clock.so: the tests' faster clock (tests/support), for
# the board: the hardware suite runs the 50 s waits of the ptz module under it.
build_test_clock() {
    local lib=$out/hw/libpreload_clock.so src=$repo/tests/support/preload_clock.cpp
    fresh "$lib" "$src" && return
    step "the tests' clock for the board"
    mkdir -p "$out/hw"
    $triplet-g++ -std=c++17 -O2 -Wall -Werror -shared -fPIC -o "$lib" "$src" -ldl
}

# rootfs.tar: Debian arm64, the essential set and packages.list, without
# documentation and translations.
make_rootfs() {
    local tar=$out/rootfs.tar
    fresh "$tar" "$vmboard/packages.list" && return
    step "root file system ($suite arm64)"
    local include
    include=$(sed 's/#.*//' "$vmboard/packages.list" | xargs | tr ' ' ,)
    mmdebstrap --variant=essential --arch=arm64 --include="$include" \
        --hook-dir=/usr/share/mmdebstrap/hooks/merged-usr \
        --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
        --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/info/*' \
        --dpkgopt='path-exclude=/usr/lib/*/gconv/*' \
        "$suite" "$out/rootfs.part.tar" >"$out/rootfs.log" 2>&1 ||
        { tail -n 20 "$out/rootfs.log"; die "mmdebstrap failed"; }
    mv "$out/rootfs.part.tar" "$tar"
}

# rootfs-busybox.tar: a camera's own userland, the packages of busybox.list
# and what they need, unpacked (the extract variant: no package is
# installed, no maintainer script runs, as on a camera's firmware).
make_busybox_rootfs() {
    local tar=$out/rootfs-busybox.tar
    fresh "$tar" "$vmboard/busybox.list" && return
    step "BusyBox root file system ($suite arm64)"
    local include
    include=$(sed 's/#.*//' "$vmboard/busybox.list" | xargs | tr ' ' ,)
    mmdebstrap --variant=extract --arch=arm64 --include="$include" \
        "$suite" "$out/rootfs-busybox.part.tar" >"$out/rootfs-busybox.log" 2>&1 ||
        { tail -n 20 "$out/rootfs-busybox.log"; die "mmdebstrap failed"; }
    mv "$out/rootfs-busybox.part.tar" "$tar"
}

# The tool's arm64 package, as scripts/package.sh builds it (kept up to date).
build_package() {
    step "the tool's arm64 package"
    bash "$repo/scripts/package.sh" build >"$out/package.log" 2>&1 ||
        { tail -n 20 "$out/package.log"; die "the package did not build"; }
    deb=$(ls "$repo"/build-deb-arm64/debug_*_arm64.deb)
    static=$repo/build-deb-arm64/debug-static
}

# What both boards are made from, beside their own root file systems.
board_inputs() {
    echo "$out/camboard/camboard.ko" "$vmboard/modules.list" "$repo"/simboard/db/*.sql \
        "$repo"/simboard/fixtures/media/*.log
    find "$vmboard/rootfs"
}

# root.cpio: the Debian board's whole root file system, the kernel's
# initramfs, with the tool's own package installed.
make_root() {
    local cpio=$out/root.cpio root=$out/root
    fresh "$cpio" "$out/rootfs.tar" "$deb" "$out/hw/libpreload_clock.so" $(board_inputs) && return
    step "root.cpio"
    rm -rf "$root" && mkdir -p "$root"
    tar -xf "$out/rootfs.tar" -C "$root"
    cp "$deb" "$root/tmp/"
    chroot "$root" dpkg -i "/tmp/${deb##*/}" >"$out/dpkg.log" 2>&1 ||
        { tail -n 20 "$out/dpkg.log"; die "the tool's package did not install on the board"; }
    rm "$root/tmp/${deb##*/}"
    mkdir -p "$root/usr/local/lib/hw" && cp "$out/hw/libpreload_clock.so" "$root/usr/local/lib/hw/"
    add_board "$root"
    pack_root "$root" "$cpio"
}

# root-busybox.cpio: the BusyBox board's. BusyBox's applets are every
# command the tool runs, /bin/sh among them, but time: there is no time
# program at all, as on many cameras; dosfstools adds fsck.fat alone. The
# tool is the static build, which needs no library of the board's.
make_busybox_root() {
    local cpio=$out/root-busybox.cpio root=$out/root-busybox
    fresh "$cpio" "$out/rootfs-busybox.tar" "$static" "$repo/boardscripts/av_log.sh" \
        $(board_inputs) && return
    step "root-busybox.cpio"
    rm -rf "$root" && mkdir -p "$root"
    tar -xf "$out/rootfs-busybox.tar" -C "$root"
    find "$root" -name 'mkdosfs' -o -name 'mkfs.*' | xargs rm -f
    mkdir -p "$root"/{etc,root,tmp,proc,sys,dev,run,usr/bin,usr/sbin}
    chroot "$root" /bin/busybox --install -s
    find "$root" -name time -type l -delete
    echo 'root:x:0:0:root:/root:/bin/sh' >"$root/etc/passwd"
    echo 'root:x:0:' >"$root/etc/group"
    install -m 755 "$static" "$root/usr/bin/debug"
    install -m 755 "$repo/boardscripts/av_log.sh" "$root/usr/bin/av_log.sh"
    add_board "$root"
    pack_root "$root" "$cpio"
}

# What both boards add to their root file systems: the kernel's modules and
# ours, the files of rootfs/, the media driver's sample states for the
# suite, and the camera's paths: NAND file systems, the card's mount point,
# the databases' read-only copies.
add_board() {
    local root=$1 sql
    add_modules "$root"
    cp -a "$vmboard/rootfs/." "$root/"
    mkdir -p "$root/usr/local/lib/hw/media"
    cp "$repo"/simboard/fixtures/media/*.log "$root/usr/local/lib/hw/media/"
    mkdir -p "$root"/mnt/{nand,nand2,mmc} "$root/opt/app"
    for sql in "$repo"/simboard/db/*.sql; do
        rm -f "$root/opt/app/$(basename "$sql" .sql).db"
        sqlite3 "$root/opt/app/$(basename "$sql" .sql).db" <"$sql"
    done
}

pack_root() {
    (cd "$1" && find . | cpio -o -H newc --quiet) >"$2.part"
    mv "$2.part" "$2"
}

# The modules of modules.list with those they need, and camboard.ko.
add_modules() {
    local root=$1 from=$out/kernel/root/lib/modules/$kver
    local to=$root/lib/modules/$kver
    mkdir -p "$to/extra"
    cp "$from"/modules.{order,builtin,builtin.modinfo} "$to/"
    /usr/sbin/depmod -b "$out/kernel/root" "$kver"
    local wanted="" path
    for path in $(sed 's/#.*//' "$vmboard/modules.list"); do
        [ -e "$from/kernel/$path" ] || die "kernel $kver has no kernel/$path (vmboard/modules.list)"
        wanted+=" $(cd "$from" && find "kernel/$path" -name '*.ko')"
    done
    {
        for ko in $wanted; do
            echo "$ko"
            sed -n "s|^$ko: ||p" "$from/modules.dep" | xargs -n 1
        done
    } | grep . | sort -u | (cd "$from" && cpio -pdm --quiet "$to")
    cp "$out/camboard/camboard.ko" "$to/extra/"
    /usr/sbin/depmod -b "$root" "$kver"
}

# card.img: the SD card, blank, for the sdmmc module to partition and format.
make_card() {
    [ -e "$out/card.img" ] && return
    step "card.img"
    truncate -s 256M "$out/card.img"
}

# nand.img, nand-busybox.img: each board's NAND storage (128 MiB,
# camboard's chip), erased at every preparation: each run of the suite
# starts from a blank flash, which the board formats at its first boot and
# keeps from one boot to the next.
make_nand() {
    local board
    step "nand.img, nand-busybox.img (erased)"
    for board in nand nand-busybox; do
        head -c 128M /dev/zero | tr '\000' '\377' >"$out/$board.img.part"
        mv "$out/$board.img.part" "$out/$board.img"
    done
}

# qemu.yaml, qemu-busybox.yaml: the labgrid environments of the two boards,
# each with its own root file system and flash.
write_env() {
    local board
    for board in "" -busybox; do
        sed -e "s|@OUT@|$out|g" -e "s|@BOARD@|$board|g" "$vmboard/qemu.yaml.in" >"$out/qemu$board.yaml.part"
        mv "$out/qemu$board.yaml.part" "$out/qemu$board.yaml"
    done
}

[ "$(id -u)" = 0 ] || die "run as root (the root file system is made in a chroot)"
bash "$repo/scripts/qemu-binfmt.sh"
fetch_kernel
build_module
build_test_clock
make_rootfs
make_busybox_rootfs
build_package
make_root
make_busybox_root
make_card
make_nand
write_env
echo "== vmboard: $out/qemu.yaml, $out/qemu-busybox.yaml (kernel $kver)"
