# RS-485 requests on the port go through a double that can play a port
# with direction control.
target_link_options(${name} PRIVATE -Wl,--wrap=ioctl)
