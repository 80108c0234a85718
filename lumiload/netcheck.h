// The network check (-N): what stands between this computer and an update
// on a show network, found before the run rather than during it. The
// interfaces and the one a run would choose, port 6454, the fixtures that
// answer a poll on each Art-Net interface, and their troubles: an address
// outside the interface's network, an address claimed by several devices,
// the maker code with its bytes swapped; on Windows the firewall.
#pragma once

#include "options.h"

// Checks the interface of -s, or every Art-Net-capable one, and reports
// each finding with its fix. Returns the exit status: 0 only when nothing
// stands in the way of an update.
int run_network_check(const RunSettings &settings);
