# The card module's unit tests stand in for the device nodes, the mount
# point's statfs, the shell and fdisk's pipe, and the cache release: nothing
# reaches a card, the shell or the kernel's caches.
target_link_options(${name} PRIVATE
  -Wl,--wrap=access -Wl,--wrap=statfs64 -Wl,--wrap=system -Wl,--wrap=popen
  -Wl,--wrap=pclose -Wl,--wrap=bv_free_system_caches)

# The board's mount loads this library into fusefat, a program built
# without the sanitizers: it must not depend on their run-time.
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/support/preload_fatstatfs.cpp
  PROPERTIES COMPILE_OPTIONS "-fno-sanitize=all")
