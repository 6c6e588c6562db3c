#!/bin/sh
# Collects the media driver's state into one text log per sub-module,
# /tmp/media/<sub-module>.log, for `debug -M media`.
#
# The driver publishes one state file per sub-module in STATE_DIR. A log
# whose state file is absent is removed, so that nothing stale is shown; a
# board without the driver ends up with an empty /tmp/media. Quiet, and
# always exits 0.
#
# /tmp is every user's: the logs are written only into a /tmp/media that is
# a folder of our own which no one else can write (made here when missing).
# One that another user made first could hold links that the copies would
# be written through; it is said once on standard error and left alone.
STATE_DIR=/proc/media
LOG_DIR=/tmp/media
SUBMODULES="acodec adec aenc ai ao chnl h264e h265e isp ive jpege rc rgn sys vb vda venc vgs vi vo vpss"

umask 022
mkdir -m 755 "$LOG_DIR" 2>/dev/null
# "drwxr-xr-x 2 0 0 ...": a folder (no link), written by its owner alone.
# shellcheck disable=SC2046
set -- $(ls -ldn "$LOG_DIR" 2>/dev/null)
case ${1:-} in
d????-??-*) [ "${3:-}" = "$(id -u)" ] || set -- ;;
d* | l*) set -- ;;
*) exit 0 ;; # nothing there, or a file where no folder can be made
esac
if [ $# -eq 0 ]; then
    echo "av_log.sh: $LOG_DIR is not a folder of uid $(id -u) alone: no logs written" >&2
    exit 0
fi
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
