// The packages scripts/package.sh puts in dist/: what the Windows zip holds
// and that every DLL its programs import either ships in it or is part of
// Windows; the .deb as Debian's tools judge it (lintian,
// desktop-file-validate) with a manual page for every option of each
// command, and installed with apt on a fresh Debian 12 root (a copy of the
// cached one from scripts/debian_root.sh), where lumiload -h and lumidesk
// on the offscreen platform must run.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <sstream>

#include "process.h"

namespace {

const std::string WINDOWS_TOP = std::string(LUMI_WINDOWS_PACKAGE) + "/";
const char OBJDUMP[] = "x86_64-w64-mingw32-objdump";

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The zip's entry names, and the zip unpacked into a scratch folder.
class WindowsZip : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access(LUMI_WINDOWS_ZIP, R_OK) != 0)
            GTEST_SKIP() << LUMI_WINDOWS_ZIP << " is missing: Qt for Windows is not in the cache "
                         << "(scripts/build_qt_windows.sh, then scripts/package.sh)";
        for (const std::string &entry : lines(run_program("unzip", {"-Z1", LUMI_WINDOWS_ZIP}).out))
            entries_.insert(entry);
        ASSERT_EQ(run_program("unzip", {"-q", LUMI_WINDOWS_ZIP, "-d", scratch_.path}).status, 0);
        top_ = scratch_.path + "/" + WINDOWS_TOP;
    }
    std::set<std::string> entries_;
    TempDir scratch_;
    std::string top_;
};

TEST_F(WindowsZip, HoldsProgramsQtRuntimeIconsAndTexts)
{
    for (const char *file :
         {"lumidesk.exe", "lumiload.exe", "Qt6Core.dll", "Qt6Gui.dll", "Qt6Widgets.dll", "Qt6Network.dll",
          "libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll", "platforms/qwindows.dll",
          "styles/qwindowsvistastyle.dll", "imageformats/qico.dll", "icons/logo.ico", "icons/logo.png",
          "README-Windows.txt", "add-firewall-rule.cmd", "lumidesk.cmd", "licenses/qt/LGPL-3.0-only.txt",
          "licenses/qt/BUILD.txt", "licenses/gcc-runtime.txt", "licenses/mingw-w64-winpthreads.txt"})
        EXPECT_EQ(entries_.count(WINDOWS_TOP + file), 1u) << file;
    for (const std::string &entry : entries_)
        EXPECT_EQ(entry.find("Qt6Test"), std::string::npos) << entry;

    // The application icon compiled in as ":/icons/logo.ico" (Qt's resource
    // compiler stores names in UTF-16 big-endian).
    const std::string exe = read_text_file(top_ + "lumidesk.exe");
    for (const std::string name : {"icons", "logo.ico"}) {
        std::string utf16;
        for (char c : name)
            utf16 += std::string(1, '\0') + c;
        EXPECT_NE(exe.find(utf16), std::string::npos) << name;
    }

    // Both programs carry the window's icon and version information:
    // resource types 14 (icon group) and 16 (version) in the first level of
    // .rsrc, the version as a UTF-16 string after its key.
    for (const std::string program : {"lumidesk.exe", "lumiload.exe"}) {
        const std::string dump = run_program(OBJDUMP, {"-p", top_ + program}).out;
        for (const char *type : {"0x00000e", "0x000010"})
            EXPECT_TRUE(std::regex_search(dump, std::regex(std::string("\n[0-9a-f]{3}   Entry: ID: ") + type)))
                << program << " has no resource of type " << type;
        std::string key, version;
        for (char c : std::string("ProductVersion"))
            key += std::string(1, c) + '\0';
        for (char c : std::string(LUMI_VERSION))
            version += std::string(1, c) + '\0';
        const std::string bytes = read_text_file(top_ + program);
        EXPECT_NE(bytes.substr(std::min(bytes.find(key), bytes.size()), 40).find(version), std::string::npos)
            << program;
    }
}

// What each program must and must not import: the window is a GUI program
// on the Qt DLLs, lumiload a console program that needs no DLL beside it
// (Windows' own WINMM gives its waits their 1 ms timer resolution).
struct ImportCase {
    const char *file;
    const char *subsystem;
    const char *must_import;
    const char *must_not_import;
};

TEST_F(WindowsZip, ImportsOnlyShippedOrWindowsDlls)
{
    // Windows' own DLLs that Qt 6.4 and the mingw-w64 runtime use.
    const std::set<std::string> windows = {
        "advapi32.dll", "authz.dll",    "comdlg32.dll", "d3d11.dll",   "d3d9.dll",     "dnsapi.dll",
        "dwmapi.dll",   "dwrite.dll",   "dxgi.dll",     "gdi32.dll",   "imm32.dll",    "iphlpapi.dll",
        "kernel32.dll", "mpr.dll",      "msvcrt.dll",   "netapi32.dll", "ole32.dll",   "oleaut32.dll",
        "secur32.dll",  "shcore.dll",   "shell32.dll",  "shlwapi.dll", "user32.dll",   "userenv.dll",
        "uxtheme.dll",  "version.dll",  "winhttp.dll",  "winmm.dll",   "ws2_32.dll",   "wsock32.dll",
        "wtsapi32.dll"};
    std::set<std::string> shipped;
    for (const std::string &entry : entries_)
        if (entry.rfind(WINDOWS_TOP, 0) == 0 && entry.find('/', WINDOWS_TOP.size()) == std::string::npos)
            shipped.insert(lower(entry.substr(WINDOWS_TOP.size())));

    int programs = 0;
    for (const std::string &entry : entries_) {
        const std::string name = lower(entry);
        if (name.size() < 4 || (name.substr(name.size() - 4) != ".dll" && name.substr(name.size() - 4) != ".exe"))
            continue;
        ++programs;
        const ProcessResult dump = run_program(OBJDUMP, {"-p", scratch_.path + "/" + entry});
        ASSERT_EQ(dump.status, 0) << entry << dump.err;
        for (const std::string &line : lines(dump.out)) {
            const size_t at = line.find("DLL Name: ");
            if (at == std::string::npos)
                continue;
            const std::string dll = lower(line.substr(at + 10));
            EXPECT_TRUE(shipped.count(dll) || windows.count(dll) || dll.rfind("api-ms-win-", 0) == 0)
                << entry << " imports " << dll << ", which is neither in the zip nor part of Windows";
        }
    }
    EXPECT_GE(programs, 11);

    for (const ImportCase &c : {ImportCase{"lumidesk.exe", "(Windows GUI)", "DLL Name: Qt6Widgets.dll", "@"},
                                ImportCase{"lumiload.exe", "(Windows CUI)", "DLL Name: WSOCK32.dll", "DLL Name: lib"},
                                ImportCase{"lumiload.exe", "(Windows CUI)", "DLL Name: WINMM.dll", "DLL Name: lib"}}) {
        const std::string dump = run_program(OBJDUMP, {"-p", top_ + c.file}).out;
        EXPECT_NE(dump.find(c.subsystem), std::string::npos) << c.file;
        EXPECT_NE(dump.find(c.must_import), std::string::npos) << c.file;
        EXPECT_EQ(dump.find(c.must_not_import), std::string::npos) << c.file;
    }
}

// Runs `command` with /bin/sh inside `root`, with /proc mounted in a mount
// namespace of its own, so that nothing stays mounted afterwards.
ProcessResult in_root(const std::string &root, const std::string &command, double timeout = 120)
{
    return run_program("unshare", {"--mount", "--fork", "sh", "-c",
                                   "mount -t proc proc \"$0/proc\" && exec chroot \"$0\" /bin/sh -c \"$1\"", root,
                                   command},
                       timeout);
}

// Debian's tools print nothing on the .deb: no error, warning or hint.
// Each command's manual page has an item (.TP) for every option its help
// text lists.
TEST(DebPackage, FollowsDebianPolicy)
{
    ASSERT_EQ(access(LUMI_DEB, R_OK), 0) << LUMI_DEB << " is missing: scripts/package.sh could not build it";
    const TempDir scratch;
    ASSERT_EQ(run_program("dpkg-deb", {"-x", LUMI_DEB, scratch.path}).status, 0);
    // lintian and desktop-file-validate come with scripts/setup.sh.
    for (const std::vector<std::string> &check :
         {std::vector<std::string>{"lintian", LUMI_DEB},
          {"desktop-file-validate", scratch.path + "/usr/share/applications/lumidesk.desktop"}}) {
        const ProcessResult result = run_program(check[0], {check[1]}, 600);
        EXPECT_EQ(result.status, 0) << check[0] << "\n" << result.out << result.err;
        EXPECT_EQ(result.out, "") << check[0];
    }

    const std::regex option("(^|[ \\[])(--?[a-z][a-z-]*)");
    for (const char *command : {"lumiload -h", "vfixture --help", "make_alf --help"}) {
        const std::string program = std::string(command).substr(0, std::string(command).find(' '));
        const ProcessResult help =
            run_program(scratch.path + "/usr/bin/" + program, {std::string(command).substr(program.size() + 1)});
        std::string page =
            run_program("zcat", {scratch.path + "/usr/share/man/man1/" + program + ".1.gz"}).out;
        page = std::regex_replace(page, std::regex("\\\\-"), "-");
        int options = 0;
        for (const std::string &line : lines(help.out + help.err))
            for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it, ++options)
                EXPECT_TRUE(std::regex_search(page, std::regex("\\.TP\n\\.BI? " + (*it)[2].str() + "[^a-z-]")))
                    << program << ".1 does not describe " << (*it)[2];
        EXPECT_GE(options, 8) << command;
    }
}

TEST(DebPackage, InstallsWithAptOnFreshDebianAndRuns)
{
    // A package that was not built is a fault of the build, never a reason to skip.
    ASSERT_EQ(access(LUMI_DEB, R_OK), 0) << LUMI_DEB << " is missing: scripts/package.sh could not build it";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for the Debian 12 root (chroot)";
    const ProcessResult base = run_program("bash", {LUMI_DEBIAN_ROOT_SCRIPT}, 900);
    if (base.status != 0)
        GTEST_SKIP() << "no Debian 12 root to install into: " << base.err;
    const TempDir scratch;
    const std::string root = scratch.path + "/root";
    ASSERT_EQ(run_program("cp", {"-a", lines(base.out).back(), root}).status, 0);
    ASSERT_EQ(run_program("cp", {LUMI_DEB, root + "/tmp/lumi.deb"}).status, 0);

    const ProcessResult install = in_root(
        root, "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/lumi.deb", 900);
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    struct {
        const char *command;
        int status;
        const char *output;
    } const runs[] = {
        {"lumiload -h", 0, "Show help message:"},
        // The lumiload the window runs: the one beside its program.
        {"/usr/lib/lumi/lumiload -h", 0, "Show help message:"},
        {"vfixture --help", 0, "--fixture"},
        // Still running after 3 s: the window came up; a missing library or
        // plugin ends it at once.
        {"cd / && QT_QPA_PLATFORM=offscreen timeout 3 lumidesk", 124, ""},
        {"cat /usr/share/applications/lumidesk.desktop /usr/share/icons/hicolor/256x256/apps/lumidesk.png "
         "/usr/share/lumi/icons/logo.png",
         0, "Exec=lumidesk"},
    };
    for (const auto &run : runs) {
        const ProcessResult result = in_root(root, run.command);
        EXPECT_EQ(result.status, run.status) << run.command << "\n" << result.out << result.err;
        EXPECT_NE(result.out.find(run.output), std::string::npos) << run.command << "\n" << result.out;
    }
}

}  // namespace
