# The processor load of the machine itself, three one-second intervals.
show debug -M cpu -c 3
