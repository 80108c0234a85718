// Firmware versions as the fixtures hold them, in two bytes H and L, and as
// every program of the project shows them: "H.T.U" with T and U the tens
// and units of L ("1.2.3" for 1, 23). Compared as 16-bit numbers H * 256 + L.
#pragma once

#include <cstdint>
#include <string>

std::string version_text(uint16_t version);

// The inverse for texts of that form; false for anything else, also for a
// text whose parts do not fit the two bytes.
bool parse_version_text(const std::string &text, uint16_t *version);
