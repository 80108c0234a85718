#include "wine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

const char WINE_ENV_DEBUG[] = "WINEDEBUG=-all";
// No .NET or HTML engine: wineboot would otherwise offer to download them.
const char WINE_ENV_OVERRIDES[] = "WINEDLLOVERRIDES=mscoree,mshtml=";
// Marks a shared prefix whose wineboot ran to its end.
const char READY_MARK[] = "/.lumiload-prefix-ready";

bool file_exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool on_path(const std::string &program)
{
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::vector<std::string> wine_env(const std::string &prefix)
{
    return {"env", "WINEPREFIX=" + prefix, WINE_ENV_DEBUG, WINE_ENV_OVERRIDES};
}

std::vector<std::string> joined(std::vector<std::string> first, const std::vector<std::string> &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The shared prefix, made once per build tree. Test processes run in
// parallel, so the first one makes it under an exclusive lock and the
// others wait for it. Returns an error text, empty on success.
std::string prepare_shared_prefix()
{
    const std::string prefix = LUMI_WINE_PREFIX;
    if (file_exists(prefix + READY_MARK))
        return "";
    const std::string lock_path = prefix + ".lock";
    const int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0)
        return "cannot open " + lock_path;
    std::string error;
    if (flock(lock, LOCK_EX) != 0) {
        error = "cannot lock " + lock_path;
    } else if (!file_exists(prefix + READY_MARK)) {
        // wineboot leaves its wineserver running; waiting for that server to
        // end (a few seconds) means the registry is on disk before any clone.
        const ProcessResult boot = run_program("wine", {"wineboot", "--init"}, 180, wine_env(prefix));
        const ProcessResult wait = run_program("wineserver", {"-w"}, 60, wine_env(prefix));
        if (boot.status != 0)
            error = "wine wineboot --init failed with status " + std::to_string(boot.status) + ": " + boot.err;
        else if (wait.status != 0)
            error = "wineserver -w failed";
        else if (!write_text_file(prefix + READY_MARK, "ok\n"))
            error = "cannot mark " + prefix;
    }
    close(lock);
    return error;
}

}  // namespace

std::string windows_lumiload()
{
    return LUMI_WINDOWS_EXE;
}

std::string linux_lumiload()
{
    return bin_path("lumiload");
}

std::string wine_unavailable_reason()
{
    if (!on_path("wine") || !on_path("wineserver"))
        return "wine is not installed (Debian packages wine and wine64)";
    if (!file_exists(windows_lumiload()))
        return windows_lumiload() + " is missing: cross-build it with scripts/build_windows.sh "
               "(Debian package g++-mingw-w64-x86-64)";
    return "";
}

std::string linux_form(const std::string &windows_text)
{
    std::string text;
    for (size_t i = 0; i < windows_text.size(); ++i) {
        if (windows_text[i] == '\r' && i + 1 < windows_text.size() && windows_text[i + 1] == '\n')
            continue;
        text += windows_text[i];
    }
    const std::string win = " Win32)\n";
    const size_t banner = text.find(win);
    if (banner != std::string::npos && text.find('\n') == banner + win.size() - 1)
        text.replace(banner, win.size(), " Linux)\n");
    return text;
}

std::string windows_form(const std::string &linux_text)
{
    std::string text = linux_text;
    const std::string lin = " Linux)\n";
    const size_t banner = text.find(lin);
    if (banner != std::string::npos && text.find('\n') == banner + lin.size() - 1)
        text.replace(banner, lin.size(), " Win32)\n");
    std::string crlf;
    for (char c : text) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    return crlf;
}

WineSession::WineSession(const std::string &netns, const std::string &desktop) : netns_(netns)
{
    error_ = prepare_shared_prefix();
    if (!error_.empty())
        return;
    // A clone of hard links costs no space; the registry files, which the
    // wineserver rewrites, are real copies so the shared prefix stays as is.
    clone_dir_ = make_temp_dir();
    prefix_ = clone_dir_ + "/prefix";
    const std::string shared = LUMI_WINE_PREFIX;
    const std::string clone = "cp -al '" + shared + "' '" + prefix_ + "' && for f in '" + shared
                              + "'/*.reg; do cp --remove-destination \"$f\" '" + prefix_ + "'/; done";
    if (run_program("sh", {"-c", clone}, 60).status != 0) {
        error_ = "cannot clone the Wine prefix into " + prefix_;
        return;
    }
    // Read when the wineserver starts. Wine has no font of Windows' own
    // dialog font's name; the nearest it finds draws line edits blank.
    const std::string desktop_keys =
        "\n[Software\\\\Wine\\\\Explorer]\n\"Desktop\"=\"Default\"\n"
        "\n[Software\\\\Wine\\\\Explorer\\\\Desktops]\n\"Default\"=\"" + desktop + "\"\n";
    const std::string font_keys = "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\FontSubstitutes]\n"
                                  "\"MS Shell Dlg\"=\"DejaVu Sans\"\n\"MS Shell Dlg 2\"=\"DejaVu Sans\"\n";
    if (!desktop.empty()
        && !(write_text_file(prefix_ + "/user.reg", read_text_file(prefix_ + "/user.reg") + desktop_keys)
             && write_text_file(prefix_ + "/system.reg", read_text_file(prefix_ + "/system.reg") + font_keys))) {
        error_ = "cannot set the virtual desktop in " + prefix_;
        return;
    }
    // The wineserver creates every socket, so it must run in the namespace.
    // It ends by itself 30 s after its last client should a test die early.
    // The first program of a prefix also starts Wine's background services,
    // which keep the standard streams they inherit open until the server
    // ends; a first run with its streams on /dev/null starts them, so that
    // the runs under test end as soon as lumiload.exe does.
    const char *start =
        "wineserver -p30 </dev/null >/dev/null 2>&1 && wine cmd /c exit </dev/null >/dev/null 2>&1";
    if (run_program("sh", {"-c", start}, 60, command_prefix()).status != 0)
        error_ = "cannot start wineserver" + (netns_.empty() ? std::string() : " in namespace " + netns_);
}

WineSession::~WineSession()
{
    if (clone_dir_.empty())
        return;
    if (!prefix_.empty()) {
        run_program("wineserver", {"-k"}, 30, wine_env(prefix_));
        run_program("wineserver", {"-w"}, 30, wine_env(prefix_));
    }
    remove_tree(clone_dir_);
}

std::vector<std::string> WineSession::command_prefix() const
{
    std::vector<std::string> prefix;
    if (!netns_.empty())
        prefix = {"ip", "netns", "exec", netns_};
    return joined(prefix, wine_env(prefix_));
}

ProcessResult WineSession::run(const std::vector<std::string> &args, const std::string &cwd,
                               double timeout_seconds) const
{
    return run_exe(windows_lumiload(), args, cwd, timeout_seconds);
}

ProcessResult WineSession::run_exe(const std::string &exe, const std::vector<std::string> &args,
                                   const std::string &cwd, double timeout_seconds) const
{
    return run_program("wine", joined({exe}, args), timeout_seconds, command_prefix(), cwd);
}
