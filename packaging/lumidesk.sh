#!/bin/sh
# lumidesk starts ./lumiload from its working directory: run it in its own
# folder.
cd /opt/lumi && exec ./lumidesk "$@"
