# publish_request's attach and detach go through doubles that can fail.
target_link_options(${name} PRIVATE -Wl,--wrap=shmat -Wl,--wrap=shmdt)
