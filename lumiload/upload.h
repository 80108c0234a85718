// Firmware upload to one fixture, one ArtFirmwareMaster block in flight.
#pragma once

#include <cstdint>
#include <cstdio>

#include "alf.h"

// Sends the whole file (header included) to `fixture`:6454 from a socket
// bound to `source`. Returns 0 when the fixture accepted every block, 1 on
// any failure (reported). The file belongs to the caller.
int upload_firmware(FILE *alf_file, AlfHeader header, uint32_t source, uint32_t fixture);
