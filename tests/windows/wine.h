// Running the cross-built lumiload.exe under Wine from the Linux test suite.
//
// Wine turns Windows Sockets calls into the host's own sockets, created by
// the wineserver of the prefix; those sockets therefore live in the network
// namespace the wineserver was started in. Every session has its own prefix
// and wineserver, started in the namespace its runs belong to.
#pragma once

#include <string>
#include <vector>

#include "process.h"

// Empty when the Windows runs can go ahead; otherwise why they cannot
// (no wine, no lumiload.exe), for GTEST_SKIP.
std::string wine_unavailable_reason();

// The Windows program under test and the Linux build of the same code.
std::string windows_lumiload();
std::string linux_lumiload();

// The Windows report as the Linux build prints it: CR LF becomes LF and the
// banner's platform label " Win32" becomes " Linux". Any lone LF, or a CR
// not followed by LF, is left as is so that a comparison shows it.
std::string linux_form(const std::string &windows_text);

// The Linux report as the Windows build must print it: LF becomes CR LF,
// " Linux" in the banner becomes " Win32".
std::string windows_form(const std::string &linux_text);

// A private Wine prefix (a hard-linked clone of the shared one, made once
// per build tree) with its own wineserver, started in `netns` or, when that
// is empty, in the machine's own namespace. With `desktop` (e.g.
// "1024x768"), windows open in a Wine virtual desktop of that size, which
// draws their Windows frames, and Windows' dialog font is DejaVu Sans. The
// destructor stops that wineserver
// (wineserver -k for this prefix only) and removes the clone.
class WineSession {
public:
    explicit WineSession(const std::string &netns = "", const std::string &desktop = "");
    ~WineSession();
    WineSession(const WineSession &) = delete;
    WineSession &operator=(const WineSession &) = delete;

    // Empty on success, otherwise what went wrong.
    const std::string &error() const { return error_; }

    // Runs lumiload.exe with `args` in `cwd` under this session's prefix
    // and namespace.
    ProcessResult run(const std::vector<std::string> &args, const std::string &cwd = "",
                      double timeout_seconds = 90) const;
    // Runs another Windows program (a path, or a program Wine brings).
    ProcessResult run_exe(const std::string &exe, const std::vector<std::string> &args,
                          const std::string &cwd = "", double timeout_seconds = 90) const;

private:
    std::vector<std::string> command_prefix() const;

    std::string netns_;
    std::string prefix_;
    std::string clone_dir_;
    std::string error_;
};
