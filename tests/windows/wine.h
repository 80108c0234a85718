// Windows programs under Wine, from the Linux test suite.
//
// Wine makes Windows Sockets calls with host sockets created by the
// prefix's wineserver, so they live in the namespace that wineserver
// started in: each session has its own prefix (a clone of a shared one,
// made once per build tree) and its own wineserver, started in the
// namespace of its runs.
#pragma once

#include <string>
#include <vector>

#include "process.h"

// Why Wine runs cannot go ahead here (no wine), or "".
std::string wine_unavailable_reason();

class WineSession {
public:
    // In the namespace `netns`, or in the machine's own when it is empty.
    // With `desktop` (e.g. "1024x768") windows open in a Wine virtual
    // desktop of that size, which draws their frames, and Windows' dialog
    // font is DejaVu Sans (the nearest Wine finds otherwise draws line
    // edits blank).
    explicit WineSession(const std::string &netns, const std::string &desktop = "");
    ~WineSession();
    WineSession(const WineSession &) = delete;
    WineSession &operator=(const WineSession &) = delete;

    ProcessResult run(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd,
                      double timeout_seconds = 90) const;
    std::string error;   // "" once the session has started

private:
    std::string dir_ = make_temp_dir();
    std::string wine_prefix_ = dir_ + "/prefix";
    std::vector<std::string> prefix_;
};
