// Firmware upload to one fixture, one ArtFirmwareMaster block in flight,
// and the check of the version it reports after its restart.
#pragma once

#include <cstdint>
#include <cstdio>

#include "alf.h"
#include "transfer.h"

// Sends the whole file (header included) to `fixture`:6454 from a socket
// bound to `source`. Returns 0 when the fixture accepted every block, 1 on
// any failure (reported). The file belongs to the caller. When `transfer`
// is given, the finished transfer is left there (its retries and times).
int upload_firmware(FILE *alf_file, AlfHeader header, uint32_t source, uint32_t fixture,
                    Transfer *transfer = nullptr);

// After `fixture` took an image of `version`: polls it from a socket bound
// to `source` (hearing replies sent to `broadcast` too) until it answers
// after its restart, and reports what it runs. Returns 0 when it runs
// `version`, 1 otherwise (reported). `transfer` as above.
int confirm_restart(uint32_t source, uint32_t broadcast, uint32_t fixture, uint16_t version, unsigned limit_s,
                    Transfer *transfer = nullptr);
