# GPIO lines, PWM channels and the IR LED test on the camera's sysfs, served
# by the board's emulator with the kernel's rules; after each run, what the
# tool left in sysfs and the writes it made (the emulator's log).
cp simboard/sysfs/camera.sysfs "$board/sysfs"
simboard/board stop "$board"
simboard/board start "$board"
writes() { cut -d' ' -f2- "$board/sysfs.log" | tail -n "$1"; }

show debug -h gpio
show debug -M gpio -r 5
writes 2
show debug -M gpio -w 20 -d 1
writes 2
show sh -c 'cat /sys/class/gpio/gpio20/direction /sys/class/gpio/gpio20/value'
show debug -M gpio -w 20 -d 0
writes 2
show debug -M gpio -w 20 -d 2
writes 2
show debug -M gpio -r 200

show debug -h pwm
show debug -M pwm -c 1 -p 100000 -d 300
writes 4
show debug -M pwm -c 1
show debug -M pwm -c 1 -p 20000 -d 500
writes 4
show sh -c 'cd /sys/class/pwm/pwmchip0/pwm1 && grep . period duty_cycle enable polarity'
show debug -M pwm -c 9 -d 300

show debug -h ir
show debug -M ir -t 4 -d 200
writes 5
show sh -c 'cat /sys/class/gpio/gpio14/value; tr -d "\0" </mnt/nand/debug.log'
