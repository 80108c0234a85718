// Reading ALF firmware images from a file: the header, then the length and
// checksum checks, each failure reported. The layout is in alf_format.h.
#pragma once

#include <cstdint>
#include <vector>

#include "alf_format.h"

// Opens, prints and validates the image, reading it once, whole, into
// `image` (header included): what the checks passed is what is sent, even
// if the file changes during the run. False after reporting why; `header`
// keeps what was read.
bool load_alf_image(const char *path, AlfHeader *header, std::vector<uint8_t> *image);
