# MEMGETBADBLOCK goes to the fake driver of the test.
target_link_options(${name} PRIVATE -Wl,--wrap=ioctl)
