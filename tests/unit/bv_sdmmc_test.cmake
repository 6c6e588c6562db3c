# The card module's unit tests stand in for the device nodes (an image file
# takes the card's place), the mount point's statfs, the shell and fdisk's
# pipe, the mount table, the kernel's re-read of the partition table and the
# cache release: nothing reaches a card, the shell or the kernel's caches.
target_link_options(${name} PRIVATE
  -Wl,--wrap=access -Wl,--wrap=statfs64 -Wl,--wrap=OSA_system -Wl,--wrap=OSA_systemUnlessStopped
  -Wl,--wrap=OSA_systemTimed -Wl,--wrap=popen -Wl,--wrap=pclose -Wl,--wrap=bv_free_system_caches
  -Wl,--wrap=setmntent -Wl,--wrap=open -Wl,--wrap=ioctl -Wl,--wrap=stat)

# The simulated board's mount loads libpreload_fatstatfs.so into fusefat, a
# program built without the sanitizers: the library must neither be
# instrumented nor depend on their run-time, in any build.
set(fatstatfs_only $<STREQUAL:$<TARGET_PROPERTY:NAME>,preload_fatstatfs>)
add_compile_options($<${fatstatfs_only}:-fno-sanitize=all>)
add_link_options($<${fatstatfs_only}:-fno-sanitize=all>)
