// Reading ALF firmware images from a file: the header, then the length and
// checksum checks, each failure reported. The layout is in alf_format.h.
#pragma once

#include <cstdio>

#include "alf_format.h"

// Rereads the header from the start of `file`. On a short read reports the
// error and returns false.
bool read_alf_header(FILE *file, AlfHeader *header);

// Opens, prints and validates the image. Returns the open file at offset 0,
// owned by the caller, or nullptr after reporting why; `header` keeps what
// was read.
FILE *open_alf_file(const char *path, AlfHeader *header);
