# Requests left for the peripheral- and light-control processes (one shared
# memory segment each), and ADC sampling: the photodiode reads 1023 here.
iio=$board/root/sys/bus/iio/devices/iio:device0
mkdir -p "$iio"
for chn in 0 1 2; do
    echo 1023 >"$iio/in_voltage${chn}_raw"
done
show debug -M pt -s 11 -p 100 -t 200
show debug -M extdrv -q 12
show debug -M adc -N 100 -D 200
show ipcs -m
show debug -M adc -t 3 -d 200
