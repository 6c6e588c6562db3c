# NAND bad blocks. Without a partition list the check reports the missing
# /proc/mtd. The simulated board's kernel has no MTD driver: the test build's
# stand-in for it (tests/support/preload_mtd.cpp, preloaded into the tool)
# answers for the board's /dev/mtdN, plain files that describe a 128 MiB
# NAND of 128 KiB erase blocks, worn in two of its five partitions.
show debug -h mtd
show debug -M mtd -b 1
printf '%s\n' 'dev:    size   erasesize  name' 'mtd0: 00100000 00020000 "boot"' \
    'mtd1: 00080000 00020000 "env"' 'mtd2: 00400000 00020000 "kernel"' \
    'mtd3: 01000000 00020000 "rootfs"' 'mtd4: 06a80000 00020000 "data"' \
    >"$board/root/proc/mtd"
printf '%s\n' 'size 0x100000' >"$board/root/dev/mtd0"
printf '%s\n' 'size 0x80000' >"$board/root/dev/mtd1"
printf '%s\n' 'size 0x400000' >"$board/root/dev/mtd2"
printf '%s\n' 'size 0x1000000' 'bad 0x2a0000' >"$board/root/dev/mtd3"
printf '%s\n' 'size 0x6a80000' 'bad 0x40000' 'bad 0x1f60000' 'bad 0x5100000' \
    >"$board/root/dev/mtd4"
simboard/board stop "$board"
simboard/board start "$board"

# show_nand CMD...: show, with the stand-in driver under the tool.
show_nand() {
    printf '\n# %s\n' "$*"
    simboard/board exec "$board" env LD_PRELOAD="$build/tests/\$LIB/libpreload_mtd.so" "$@" ||
        echo "(exit status $?)"
}
show_nand debug -M mtd -b 1
show_nand debug -M mtd -b 0
