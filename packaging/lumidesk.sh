#!/bin/sh
# The window reads its icons from icons/ in its working folder, and finds
# lumiload beside its own program in /usr/lib/lumi.
cd /usr/share/lumi && exec /usr/lib/lumi/lumidesk "$@"
