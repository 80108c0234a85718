// Finding a fixture in the truss (-L): its front-panel indicators flash
// until told to stop. One ArtAddress to the fixture, with the LED-locate
// or the normal-LED command and nothing else, and its ArtPollReply.
#pragma once

#include "options.h"

// Sends the command to settings.locate from a socket bound to -s and waits
// up to a second for the fixture's answer. Returns the exit status: 0 once
// it answered.
int run_locate(const RunSettings &settings);
