#!/bin/sh
# Collects the media driver's state into one text log per sub-module,
# /tmp/media/<sub-module>.log, for `debug -M media`.
#
# The driver publishes one state file per sub-module in STATE_DIR. A log
# whose state file is absent is removed, so that nothing stale is shown; a
# board without the driver ends up with an empty /tmp/media. Quiet, and
# always exits 0.
STATE_DIR=/proc/media
LOG_DIR=/tmp/media
SUBMODULES="acodec adec aenc ai ao chnl h264e h265e isp ive jpege rc rgn sys vb vda venc vgs vi vo vpss"

mkdir -p "$LOG_DIR" 2>/dev/null || exit 0
for name in $SUBMODULES; do
    log=$LOG_DIR/$name.log
    # The driver's files are snapshots taken at open: one read each.
    if [ -f "$STATE_DIR/$name" ] && cat "$STATE_DIR/$name" >"$log.new" 2>/dev/null; then
        mv -f "$log.new" "$log" 2>/dev/null
    else
        rm -f "$log.new" "$log" 2>/dev/null
    fi
done
exit 0
