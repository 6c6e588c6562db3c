# The lens's focus, zoom and P-iris steppers on the camera's phase lines,
# through the stepper library: the positions it keeps on the NAND before
# and after each run, and the phase writes of short moves (the sysfs log).
if [ ! -e "$board/sysfs" ]; then
    cp simboard/sysfs/camera.sysfs "$board/sysfs"
    simboard/board stop "$board"
    simboard/board start "$board"
fi
positions() { show sh -c 'cat /mnt/nand/stepper.pos 2>/dev/null || echo "(no positions saved)"'; }
phase_writes() { grep " /sys/class/gpio/gpio$1/" "$board/sysfs.log" | cut -d' ' -f2- | tail -n "$2"; }

show debug -h motor
positions
show debug -M motor -t 2 -s 20
positions
show debug -M motor -t 2 -s 4
phase_writes '7[2-5]' 5
show debug -M motor -t 2 -d 1 -s 4
phase_writes '7[2-5]' 5
show debug -M motor -t 2 -s 1000
show debug -M motor -p 90 -s 0
positions

show sh -c 'printf "focus 3000\nzoom 1000\n" >/mnt/nand/stepper.pos'
show debug -M motor
show debug -M motor -t 1 -d 2 -s 1200
show debug -M motor -t 1 -d 1 -s 5000
positions
show debug -M motor -p 185
