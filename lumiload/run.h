// A whole run of lumiload: banner, options, image, discovery, update.
#pragma once

// Returns the process exit status.
int run_lumiload(int argc, char *argv[]);
