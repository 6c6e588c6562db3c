# NAND bad blocks. The simulated board's kernel has no MTD driver: without a
# partition list the check reports the missing /proc/mtd; with one, its
# device nodes are plain files that refuse MEMGETBADBLOCK like any file that
# is no MTD device, and one node is missing.
show debug -h mtd
show debug -M mtd -b 1
printf '%s\n' 'dev:    size   erasesize  name' 'mtd0: 00100000 00020000 "boot"' \
    'mtd1: 00400000 00020000 "kernel"' 'mtd2: 00800000 00020000 "rootfs"' \
    >"$board/root/proc/mtd"
: >"$board/root/dev/mtd0"
: >"$board/root/dev/mtd2"
simboard/board stop "$board"
simboard/board start "$board"
show debug -M mtd -b 1
show debug -M mtd -b 0
