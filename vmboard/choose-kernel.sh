#!/usr/bin/env bash
# Chooses the board's kernel from what the archive holds: reads
# `apt-cache madison` lines of linux-image-arm64:arm64, the images it names,
# their arm64 headers, the headers' common half and the build machine's
# linux-kbuild-X.Y:amd64, and prints one line,
#   VERSION ABI KBUILD_VERSION        (6.1.176-1 6.1.0-50-arm64 6.1.176-1)
# and on standard error the choice and why.
#   kernel_madison | vmboard/choose-kernel.sh [VERSION]
# A kernel is usable when its image, headers and common half can all be had
# at its version. The newest usable kernel whose kbuild tools have its own
# version wins; when no usable kernel has them (the security archive moves
# amd64 and arm64 days apart), the newest usable kernel with the nearest
# kbuild tools: they are programs of the build machine, and a module built
# with the next release's tools loads. VERSION pins the kernel instead.
set -euo pipefail
pin=${1:-}
say() { echo "vmboard: $*" >&2; }

# package version arch, one line each, from madison's "pkg | ver | url suite arch Packages".
archive=$(awk -F'|' 'NF >= 3 {
    gsub(/ /, "", $1); gsub(/ /, "", $2); split($1, name, ":")
    n = split($3, where, " "); print name[1], $2, where[n - 1] }')

has() { # has PACKAGE VERSION [ARCH]: the archive holds it (for any arch without ARCH)
    awk -v p="$1" -v v="$2" -v a="${3:-}" '$1 == p && $2 == v && (a == "" || $3 == a) { found = 1 }
        END { exit !found }' <<<"$archive"
}
versions_of() { # versions_of PACKAGE ARCH, newest first
    local v sorted=()
    for v in $(awk -v p="$1" -v a="$2" '$1 == p && $3 == a { print $2 }' <<<"$archive" | sort -u); do
        local i=${#sorted[@]}
        sorted+=("$v")
        while [ "$i" -gt 0 ] && dpkg --compare-versions "${sorted[i - 1]}" lt "$v"; do
            sorted[i]=${sorted[i - 1]}
            i=$((i - 1))
        done
        sorted[i]=$v
    done
    echo "${sorted[@]}"
}
patchlevel() { # 6.1.194-1 -> 194
    local upstream=${1%-*}
    echo "${upstream##*.}"
}
# nearest_kbuild VERSION KBUILD_VERSIONS...: the one nearest in patch level, the newer on a tie
nearest_kbuild() {
    local want best="" gap=-1 v d
    want=$(patchlevel "$1")
    shift
    for v in "$@"; do
        d=$(($(patchlevel "$v") - want))
        d=${d#-}
        if [ "$gap" -lt 0 ] || [ "$d" -lt "$gap" ]; then best=$v gap=$d; fi
    done
    echo "$best"
}

metas=$(versions_of linux-image-arm64 arm64)
[ -n "$metas" ] || { say "the archive holds no linux-image-arm64:arm64 (apt-get update; scripts/setup.sh adds arm64)"; exit 1; }
if [ -n "$pin" ]; then
    has linux-image-arm64 "$pin" arm64 || { say "VMBOARD_KERNEL=$pin: the archive holds linux-image-arm64:arm64 at $metas only"; exit 1; }
    metas=$pin
fi

matched="" nearest="" why=""
for version in $metas; do
    image=$(awk -v v="$version" '$2 == v && $3 == "arm64" && $1 ~ /^linux-image-[0-9].*-arm64$/ { print $1; exit }' <<<"$archive")
    abi=${image#linux-image-}
    if [ -z "$image" ]; then
        why+="; $version: no image"
        continue
    fi
    if ! has "linux-headers-$abi" "$version" arm64 || ! has "linux-headers-${abi%-arm64}-common" "$version"; then
        why+="; $version: no headers"
        continue
    fi
    kbuilds=$(versions_of "linux-kbuild-${abi%%.0-*}" amd64)
    if [ -z "$kbuilds" ]; then
        why+="; $version: no linux-kbuild-${abi%%.0-*}:amd64"
        continue
    fi
    if has "linux-kbuild-${abi%%.0-*}" "$version" amd64; then
        matched="$version $abi $version"
        break
    fi
    why+="; $version: no kbuild tools of that version ($(echo $kbuilds | sed 's/ /, /g'))"
    # shellcheck disable=SC2086
    [ -n "$nearest" ] || nearest="$version $abi $(nearest_kbuild "$version" $kbuilds)"
done

why=${why#; }
pinned=${pin:+, as VMBOARD_KERNEL pins}
if [ -n "$matched" ]; then
    set -- $matched
    say "kernel $2 ($1) with kbuild tools $3$pinned: the newest whose image, headers and kbuild tools are all of its version${why:+ ($why)}"
elif [ -n "$nearest" ]; then
    set -- $nearest
    say "kernel $2 ($1) with kbuild tools $3, the nearest$pinned: $why;" \
        "kbuild tools are programs of the build machine, and the modules they build load"
else
    say "no usable kernel in the archive ($why): apt-get update, or pin VMBOARD_KERNEL to a version whose image and headers can be had"
    exit 1
fi
echo "$@"
