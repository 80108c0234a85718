// The Windows installer from scripts/package.sh under Wine, in a fresh
// prefix with a wineserver of its own inside a private network namespace
// (the window never sees this machine's networks): the silent install puts
// the zip's files under Program Files, the Start-menu shortcut and the
// uninstall key in place and runs netsh's firewall commands; the window
// starts from the shortcut; the silent uninstall that Apps & Features runs
// (the key's QuietUninstallString) removes all of it.
//
// Wine's netsh.exe accepts firewall commands and does nothing, so the
// prefix gets a stand-in, compiled here with mingw-w64, in its system
// folder and loaded instead of Wine's (a DLL override): it appends the
// command line it was given to C:\netsh.txt. That is the command exactly as
// Windows' netsh would receive it, quotes included; a log the installer
// wrote itself would show what it meant to run, and Wine's traces of
// process creation escape and cut long command lines.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

#include "harness.h"
#include "wine.h"

namespace {

const char NETSH[] = R"(#include <windows.h>
#include <stdio.h>
int main(void)
{
    FILE *log = fopen("C:\\netsh.txt", "a");
    return !log || fprintf(log, "%s\n", GetCommandLineA()) < 0 || fclose(log) != 0;
}
)";
const std::string KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\lumi";
const std::string FOLDER = "C:\\Program Files\\lumi";
const std::string RULE_COMMAND = "\"C:\\windows\\system32\\netsh.exe\" advfirewall firewall ";
const std::string PROGRAM = " dir=in program=\"" + FOLDER + "\\lumiload.exe\"";

std::string unavailable_reason()
{
    if (access(LUMI_WINDOWS_ZIP, R_OK) != 0)
        return std::string(LUMI_WINDOWS_ZIP) + " is missing: Qt for Windows is not in the cache "
               "(scripts/build_qt_windows.sh, then scripts/package.sh)";
    std::string reason = wine_unavailable_reason();
    if (reason.empty())
        reason = netns_unavailable_reason();
    if (reason.empty() && run_program("sh", {"-c", "command -v Xvfb unzip x86_64-w64-mingw32-gcc"}).status != 0)
        reason = "Xvfb, unzip or x86_64-w64-mingw32-gcc is missing (scripts/setup.sh installs them)";
    return reason;
}

// The values of `reg query KEY`, by name.
std::map<std::string, std::string> key_values(const std::string &query)
{
    std::map<std::string, std::string> values;
    const std::regex value(R"(^\s+(\S+)\s+REG_\w+\s+(.*?)\r?$)");
    std::istringstream in(query);
    std::smatch m;
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, m, value))
            values[m[1]] = m[2];
    return values;
}

// Whether `done` comes true within 60 s.
bool eventually(const std::function<bool()> &done)
{
    for (int i = 0; i < 120; ++i, usleep(500000))
        if (done())
            return true;
    return false;
}

}  // namespace

TEST(WindowsInstaller, InstallsStartsTheWindowAndUninstallsSilently)
{
    const std::string reason = unavailable_reason();
    if (!reason.empty())
        GTEST_SKIP() << reason;
    ASSERT_EQ(access(LUMI_WINDOWS_INSTALLER, R_OK), 0) << LUMI_WINDOWS_INSTALLER << " is missing beside the zip";
    const TempDir scratch;
    ASSERT_TRUE(write_text_file(scratch.path + "/netsh.c", NETSH));
    ASSERT_EQ(run_program("x86_64-w64-mingw32-gcc", {"-o", scratch.path + "/netsh.exe", scratch.path + "/netsh.c"})
                  .status, 0);
    Netns net;
    ASSERT_TRUE(net.up("2.0.0.1/8", {})) << net.error;
    Xvfb x(scratch.path);
    ASSERT_FALSE(x.display.empty()) << read_text_file(scratch.path + "/xvfb.log");
    setenv("DISPLAY", x.display.c_str(), 1);
    WineSession wine(net.name + "-c", "1024x768");
    ASSERT_EQ(wine.error, "");
    const std::string c = wine.prefix_dir() + "/drive_c/";
    const std::string folder = c + "Program Files/lumi/";
    const std::string shortcut = c + "ProgramData/Microsoft/Windows/Start Menu/Programs/lumidesk.lnk";
    ASSERT_EQ(run_program("cp", {"--remove-destination", scratch.path + "/netsh.exe", c + "windows/system32/netsh.exe"})
                  .status, 0);
    ASSERT_EQ(wine.run("reg", {"add", "HKCU\\Software\\Wine\\DllOverrides", "/v", "netsh.exe", "/d", "native", "/f"},
                       scratch.path).status, 0);

    const ProcessResult install = wine.run(LUMI_WINDOWS_INSTALLER, {"/S"}, scratch.path, 120);
    ASSERT_EQ(install.status, 0) << install.err;
    int files = 0;
    std::istringstream entries(run_program("unzip", {"-Z1", LUMI_WINDOWS_ZIP}).out);
    for (std::string entry; std::getline(entries, entry);) {
        if (entry.back() == '/')
            continue;
        ++files;
        EXPECT_EQ(access((folder + entry.substr(entry.find('/') + 1)).c_str(), R_OK), 0) << entry;
    }
    EXPECT_GE(files, 20);
    EXPECT_EQ(access(shortcut.c_str(), R_OK), 0) << shortcut;
    const ProcessResult query = wine.run("reg", {"query", KEY}, scratch.path);
    std::map<std::string, std::string> values = key_values(query.out);
    EXPECT_EQ(values["DisplayName"], "lumi " LUMI_VERSION) << query.out;
    EXPECT_EQ(values["DisplayVersion"], LUMI_VERSION);
    EXPECT_EQ(values["Publisher"], "lumi");
    EXPECT_EQ(values["DisplayIcon"], FOLDER + "\\lumidesk.exe,0");
    EXPECT_EQ(values["UninstallString"], "\"" + FOLDER + "\\uninstall.exe\"");
    ASSERT_EQ(values["QuietUninstallString"], "\"" + FOLDER + "\\uninstall.exe\" /S");
    // In KiB: the unpacked zip's size within 1 %.
    const std::string sizes = run_program("unzip", {"-Zt", LUMI_WINDOWS_ZIP}).out;
    std::smatch total;
    ASSERT_TRUE(std::regex_search(sizes, total, std::regex("([0-9]+) bytes uncompressed"))) << sizes;
    const double kib = std::stod(total[1]) / 1024;
    EXPECT_NEAR(std::stoul(values["EstimatedSize"], nullptr, 16), kib, kib / 100);
    const std::string add = RULE_COMMAND + "add rule name=\"lumiload Art-Net\" dir=in action=allow program=\"" + FOLDER
                            + "\\lumiload.exe\" protocol=UDP localport=6454 profile=any";
    const std::string installed = RULE_COMMAND + "delete rule name=all" + PROGRAM + "\r\n" + add + "\r\n";
    EXPECT_EQ(read_text_file(c + "netsh.txt"), installed);

    // Started from the shortcut, the window comes up; closed as Windows
    // closes a window (WM_CLOSE: taskkill without /f), it stores its size.
    // Until the window is there, taskkill has no window to close.
    ASSERT_EQ(wine.run("start", {"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\lumidesk.lnk"},
                       scratch.path).status, 0);
    EXPECT_TRUE(eventually([&] {
        wine.run("taskkill", {"/im", "lumidesk.exe"}, scratch.path);
        return wine.run("reg", {"query", "HKCU\\Software\\YourCompanyName\\YourAppName", "/v", "windowSize"},
                        scratch.path).status == 0;
    }));

    // The uninstaller copies itself to the temporary folder, starts the copy
    // and returns: done when the key, its last step, is gone.
    ASSERT_EQ(wine.run(FOLDER + "\\uninstall.exe", {"/S"}, scratch.path).status, 0);
    EXPECT_TRUE(eventually([&] { return wine.run("reg", {"query", KEY}, scratch.path).status == 1; }));
    EXPECT_NE(access(folder.c_str(), F_OK), 0) << run_program("find", {folder}).out;
    EXPECT_NE(access(shortcut.c_str(), F_OK), 0);
    EXPECT_EQ(read_text_file(c + "netsh.txt"),
              installed + RULE_COMMAND + "delete rule name=\"lumiload Art-Net\"" + PROGRAM + "\r\n");
    unsetenv("DISPLAY");
}
