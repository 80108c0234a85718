// lumidesk for Windows under Wine: the Windows zip unpacked, and the
// window's Windows test program (desk/desk_window.cpp) beside lumidesk.exe,
// run on an Xvfb display of its own inside a private pair of network
// namespaces (controller 2.0.0.1, virtual fixtures 2.0.0.10 and 2.0.0.11),
// with a Wine prefix and wineserver of its own, in a Wine virtual desktop
// so that the window gets a Windows frame. LUMIDESK_SCREENSHOT=FILE keeps a
// picture of the window after the upload.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "harness.h"
#include "wine.h"

namespace {

std::string unavailable_reason()
{
    std::string reason = wine_unavailable_reason();
    if (reason.empty() && (access(LUMI_WINDOWS_ZIP, R_OK) != 0 || access(LUMI_DESK_WINDOW, R_OK) != 0))
        reason = std::string("Qt for Windows is not in the cache, so there is no ") + LUMI_WINDOWS_ZIP
                 + " or " + LUMI_DESK_WINDOW + ": scripts/build_qt_windows.sh builds that Qt (about 25"
                 " minutes), then scripts/test.sh builds the rest";
    if (reason.empty())
        reason = netns_unavailable_reason();
    if (reason.empty() && run_program("sh", {"-c", "command -v Xvfb unzip"}).status != 0)
        reason = "Xvfb or unzip is not installed (Debian packages xvfb, unzip)";
    return reason;
}

}  // namespace

TEST(WindowsDesk, WindowDiscoversAndUpdatesTwoFixtures)
{
    const std::string reason = unavailable_reason();
    if (!reason.empty())
        GTEST_SKIP() << reason;
    const std::string dir = make_temp_dir();
    const std::string folder = dir + "/" + LUMI_WINDOWS_PACKAGE;
    ASSERT_EQ(run_program("unzip", {"-q", LUMI_WINDOWS_ZIP, "-d", dir}).status, 0);
    const std::string desk_dir = std::string(LUMI_DESK_WINDOW).substr(0, std::string(LUMI_DESK_WINDOW).rfind('/'));
    ASSERT_EQ(run_program("cp", {LUMI_DESK_WINDOW, desk_dir + "/Qt6Test.dll", folder}).status, 0);
    write_image(folder + "/fw.alf", 1, 20, 5000);

    Netns net;
    ASSERT_TRUE(net.up("2.0.0.1/8", {"2.0.0.10/8", "2.0.0.11/8"})) << net.error;
    VirtualFixtures fixtures;
    ASSERT_TRUE(fixtures.start(dir, {"bind=2.0.0.10,version=1.1.0,bcast=2.255.255.255",
                                     "bind=2.0.0.11,version=1.1.0,bcast=2.255.255.255"},
                               net.in("f")))
        << fixtures.error;
    Xvfb x(dir);
    ASSERT_FALSE(x.display.empty()) << read_text_file(dir + "/xvfb.log");
    setenv("DISPLAY", x.display.c_str(), 1);
    {
        WineSession wine(net.name + "-c", "1024x768");
        ASSERT_EQ(wine.error, "");
        std::vector<std::string> args = {"-o", "results.txt,txt"};
        if (const char *picture = std::getenv("LUMIDESK_SCREENSHOT"))
            args.insert(args.end(), {"--screenshot", picture});
        const ProcessResult run = wine.run(folder + "/desk_window.exe", args, folder, 300);
        const std::string results = read_text_file(folder + "/results.txt");
        EXPECT_EQ(run.status, 0) << results << run.err;
        EXPECT_NE(results.find("Totals: 6 passed, 0 failed"), std::string::npos) << results;
    }
    unsetenv("DISPLAY");
    fixtures.stop();
    remove_tree(dir);
}
