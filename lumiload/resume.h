// -u @file: resuming a rig update from the summary CSV of an earlier run
// (-o), whose fixtures that were not updated are taken again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the summary file at `path` and appends, in its order, the address
// of every fixture whose result is neither "confirmed" nor "uploaded".
// False, with the reason reported, when the file cannot be read or is no
// summary file.
bool read_unfinished_fixtures(const std::string &path, std::vector<uint32_t> *addresses);
