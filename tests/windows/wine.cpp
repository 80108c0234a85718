#include "wine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const std::string SHARED_PREFIX = LUMI_WINE_PREFIX;

// No .NET or HTML engine: wineboot would otherwise offer to download them.
// No winemenubuilder: a shortcut an installer makes stays in the prefix
// instead of becoming a menu entry of this machine's desktop.
std::vector<std::string> wine_env(const std::string &prefix)
{
    return {"env", "WINEPREFIX=" + prefix, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d"};
}

// The shared prefix, made once per build tree under a lock. Waiting for
// wineboot's wineserver to end puts the registry on disk before any clone.
std::string prepare_shared_prefix()
{
    const std::string ready = SHARED_PREFIX + "/.lumiload-prefix-ready";
    const int lock = open((SHARED_PREFIX + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0)
        return "cannot lock " + SHARED_PREFIX + ".lock";
    std::string error;
    if (access(ready.c_str(), F_OK) != 0 &&
        (run_program("wine", {"wineboot", "--init"}, 180, wine_env(SHARED_PREFIX)).status != 0 ||
         run_program("wineserver", {"-w"}, 60, wine_env(SHARED_PREFIX)).status != 0 || !write_text_file(ready, "ok\n")))
        error = "cannot make the Wine prefix " + SHARED_PREFIX;
    close(lock);
    return error;
}

}  // namespace

std::string wine_unavailable_reason()
{
    if (run_program("sh", {"-c", "command -v wine && command -v wineserver"}, 10).status != 0)
        return "wine is not installed (Debian packages wine and wine64)";
    return "";
}

WineSession::WineSession(const std::string &netns, const std::string &desktop) : error(prepare_shared_prefix())
{
    if (!netns.empty())
        prefix_ = {"ip", "netns", "exec", netns};
    const std::vector<std::string> env = wine_env(wine_prefix_);
    prefix_.insert(prefix_.end(), env.begin(), env.end());
    // Hard links, but copies of the registry files, which the wineserver
    // rewrites (and which the desktop keys are added to before it starts).
    // A copy where the two are on different file systems (/tmp a tmpfs).
    const std::string clone = "{ cp -al '" + SHARED_PREFIX + "' '" + wine_prefix_ + "' 2>/dev/null || { rm -rf '" +
                              wine_prefix_ + "' && cp -a '" + SHARED_PREFIX + "' '" + wine_prefix_ +
                              "'; }; } && for f in '" + SHARED_PREFIX + "'/*.reg; do cp --remove-destination \"$f\" '" +
                              wine_prefix_ + "'/; done";
    const std::string user_keys = "\n[Software\\\\Wine\\\\Explorer]\n\"Desktop\"=\"Default\"\n"
                                  "\n[Software\\\\Wine\\\\Explorer\\\\Desktops]\n\"Default\"=\"" + desktop + "\"\n";
    const std::string system_keys = "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\FontSubstitutes]\n"
                                    "\"MS Shell Dlg\"=\"DejaVu Sans\"\n\"MS Shell Dlg 2\"=\"DejaVu Sans\"\n";
    // The wineserver ends 30 s after its last client. The first program of a
    // prefix starts Wine's services, which keep the streams they inherit
    // until the server ends: started here on /dev/null.
    const char *start = "wineserver -p30 </dev/null >/dev/null 2>&1 && wine cmd /c exit </dev/null >/dev/null 2>&1";
    if (!error.empty())
        return;
    if (run_program("sh", {"-c", clone}, 60).status != 0 ||
        (!desktop.empty() &&
         !(write_text_file(wine_prefix_ + "/user.reg", read_text_file(wine_prefix_ + "/user.reg") + user_keys) &&
           write_text_file(wine_prefix_ + "/system.reg", read_text_file(wine_prefix_ + "/system.reg") + system_keys))) ||
        run_program("sh", {"-c", start}, 60, prefix_).status != 0)
        error = "cannot start a Wine session " + (netns.empty() ? "here" : "in " + netns);
}

WineSession::~WineSession()
{
    run_program("wineserver", {"-k"}, 30, wine_env(wine_prefix_));
    run_program("wineserver", {"-w"}, 30, wine_env(wine_prefix_));
    remove_tree(dir_);
}

ProcessResult WineSession::run(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd,
                               double timeout_seconds) const
{
    std::vector<std::string> all = {exe};
    all.insert(all.end(), args.begin(), args.end());
    return run_program("wine", all, timeout_seconds, prefix_, cwd);
}

Xvfb::Xvfb(const std::string &dir)
{
    pid = start_background({"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
                           dir + "/xvfb.log");
    for (int i = 0; i < 500 && display.empty(); ++i, usleep(10000)) {
        const std::string log = read_text_file(dir + "/xvfb.log");
        if (log.find('\n') != std::string::npos)
            display = ":" + log.substr(0, log.find('\n'));
    }
}

Xvfb::~Xvfb()
{
    stop_background(pid);
}
