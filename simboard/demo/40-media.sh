# The media pipeline: the log script fills /tmp/media (on the simulated
# board from its sample logs), then the video report and one whole log.
show debug -M media --video
show debug -M media --isp
