// The command line: the parser's rules, and what the real program does with
// them (help text, exit status, test-run notice).

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <vector>

#include "options.h"
#include "process.h"

namespace {

struct Parsed {
    bool run;
    RunSettings settings;
};

Parsed parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "lumiload");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    Parsed parsed;
    parsed.run = parse_options(static_cast<int>(args.size()), argv.data(), &parsed.settings);
    return parsed;
}

uint32_t ip(const char *text) { return inet_addr(text); }

struct OptionCase {
    std::vector<std::string> args;
    bool run;
    std::string alf_path;
    bool alf_given;
    const char *destination;
    const char *source;
    bool multi, ignore, test;
};

const OptionCase OPTION_CASES[] = {
    {{}, true, "", false, "0.0.0.0", "0.0.0.0", false, false, false},
    {{"-f", "fw.alf", "-d", "2.0.0.5", "-s", "2.0.0.1", "-m", "-i", "-t"}, true, "fw.alf", true, "2.0.0.5", "2.0.0.1", true, true, true},
    {{"-t", "-h"}, false, "", false, "0.0.0.0", "0.0.0.0", false, false, true},
    {{"-x"}, false, "", false, "0.0.0.0", "0.0.0.0", false, false, false},
    {{"-f"}, false, "", false, "0.0.0.0", "0.0.0.0", false, false, false},
    // The first argument that is not an option ends parsing.
    {{"fw.alf", "-t"}, true, "", false, "0.0.0.0", "0.0.0.0", false, false, false},
    // Only the second character counts.
    {{"-mt"}, true, "", false, "0.0.0.0", "0.0.0.0", true, false, false},
    {{"-ffile.alf", "other.alf"}, true, "other.alf", true, "0.0.0.0", "0.0.0.0", false, false, false},
    {{"-s ", "2.0.0.1"}, true, "", false, "0.0.0.0", "2.0.0.1", false, false, false},
    // An option's argument is the next argument, whatever it looks like.
    {{"-f", "-t"}, true, "-t", true, "0.0.0.0", "0.0.0.0", false, false, false},
    // Later values override earlier ones.
    {{"-d", "2.0.0.5", "-d", "2.0.0.6"}, true, "", false, "2.0.0.6", "0.0.0.0", false, false, false},
    // A lone "-" and "-:" are consumed without effect.
    {{"-", "-:", "-m"}, true, "", false, "0.0.0.0", "0.0.0.0", true, false, false},
    // Unparsable addresses read as 255.255.255.255.
    {{"-d", "fixture"}, true, "", false, "255.255.255.255", "0.0.0.0", false, false, false},
};

TEST(Options, TableOfCommandLines)
{
    for (const OptionCase &c : OPTION_CASES) {
        std::string label;
        for (const std::string &a : c.args)
            label += "[" + a + "]";
        SCOPED_TRACE(label);
        const Parsed p = parse(c.args);
        EXPECT_EQ(p.run, c.run);
        if (!c.run)
            continue;
        EXPECT_EQ(p.settings.alf_path, c.alf_path);
        EXPECT_EQ(p.settings.alf_given, c.alf_given);
        EXPECT_EQ(p.settings.destination, ip(c.destination));
        EXPECT_EQ(p.settings.source, ip(c.source));
        EXPECT_EQ(p.settings.multi_fixture, c.multi);
        EXPECT_EQ(p.settings.ignore_version, c.ignore);
        EXPECT_EQ(p.settings.test_run, c.test);
    }
}

TEST(Options, ParserStopsWithoutAdvancingOnUnknownLetter)
{
    char a0[] = "lumiload", a1[] = "-x", a2[] = "-m";
    char *argv[] = {a0, a1, a2, nullptr};
    OptionParser parser;
    EXPECT_EQ(next_option(&parser, 3, argv, "f:d:s:mith"), '?');
    EXPECT_EQ(parser.index, 1);
}

const char BANNER[] = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\n";
const char HELP[] =
    "Parameters:\n"
    "    File:                  -f [fw.alf]    (skip to only perform fixture detection without update)\n"
    "    Destination IP:        -d [x.x.x.x]   (skip to detect connected fixtures)\n"
    "    Source IP:             -s [0.0.0.0]   (skip to choose automatically)\n"
    "    Multi-fixture upload:  -m\n"
    "    Ignore version check:  -i\n"
    "    Test run:              -t             (specify to prevent actual programming taking place)\n"
    "    Show help message:     -h\n";

TEST(OptionsProgram, HelpIsPrintedAndNothingElseHappens)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string> {"-h"}, {"-t", "-h"}, {"-x"}, {"-f"}, {"-m", "-d"}}) {
        const ProcessResult r = run_program(bin_path("lumiload"), args);
        SCOPED_TRACE(args[0]);
        EXPECT_EQ(r.out, std::string(BANNER) + HELP);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

TEST(OptionsProgram, MissingAlfFileStopsWithStatusOne)
{
    const ProcessResult r = run_program(bin_path("lumiload"), {"-t", "-f", "/nonexistent/fw.alf"});
    EXPECT_EQ(r.out, std::string(BANNER) + "# TEST RUN MODE\n");
    EXPECT_EQ(r.err, "Error: failed to open ALF file at /nonexistent/fw.alf\n");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
