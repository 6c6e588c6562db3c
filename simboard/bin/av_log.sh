#!/bin/sh
# Stand-in for the media log script on the simulated board: leaves the
# board's sample media logs (simboard/fixtures/media) in /tmp/media, as the
# media driver's state would after a few hours of streaming.
fixtures=$(dirname "$(readlink -f "$0")")/../fixtures/media
mkdir -p /tmp/media
cp "$fixtures"/*.log /tmp/media/
