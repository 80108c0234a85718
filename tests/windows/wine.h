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
    // The prefix's folder: its files are hard links shared with other
    // sessions, so a test replaces a file there, never writes into it.
    const std::string &prefix_dir() const { return wine_prefix_; }
    std::string error;   // "" once the session has started

private:
    std::string dir_ = make_temp_dir();
    std::string wine_prefix_ = dir_ + "/prefix";
    std::vector<std::string> prefix_;
};

// An X server on a free display for Wine's windows, its log in `dir`;
// stopped by the destructor. `display` is "" when it did not start.
struct Xvfb {
    explicit Xvfb(const std::string &dir);
    ~Xvfb();
    int pid;
    std::string display;
};
