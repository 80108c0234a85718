// The option parser's rules, one command line per row. What the program
// prints for them is in test_report.cpp.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "options.h"

namespace {

// The settings a command line yields, as one text: "help", or the ALF path
// ("-" when not given), both addresses, the flags m, i and t, and the rig's
// options that were given.
std::string parsed(std::vector<std::string> args)
{
    args.insert(args.begin(), "lumiload");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    RunSettings s;
    if (!parse_options(static_cast<int>(args.size()), argv.data(), &s))
        return "help";
    const std::string destination = inet_ntoa(in_addr {s.destination});
    std::string text = (s.alf_given ? s.alf_path : "-") + " " + destination + " " + inet_ntoa(in_addr {s.source}) + " " +
                       (s.multi_fixture ? "m" : "") + (s.ignore_version ? "i" : "") + (s.test_run ? "t" : "");
    for (uint32_t address : s.only)
        text += std::string(" u") + inet_ntoa(in_addr {address});
    text += (s.parallel ? " p" + std::to_string(s.parallel) : "") + (s.confirm ? " c" : "") +
            (s.failure_limit ? " k" + std::to_string(s.failure_limit) : "") + (s.summary_path.empty() ? "" : " o" + s.summary_path) +
            (s.restart_wait != 60 ? " w" + std::to_string(s.restart_wait) : "") + (s.stop_on_input ? " S" : "");
    return text + (s.bad_value.empty() ? "" : " refused " + s.bad_value);
}

TEST(Options, CommandLines)
{
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{}, "- 0.0.0.0 0.0.0.0 "},
        {{"-f", "fw.alf", "-d", "2.0.0.5", "-s", "2.0.0.1", "-m", "-i", "-t"}, "fw.alf 2.0.0.5 2.0.0.1 mit"},
        {{"-t", "-h", "-m"}, "help"},
        {{"-x"}, "help"},
        {{"-m", "-f"}, "help"},                                     // an option without its argument
        {{"fw.alf", "-t"}, "- 0.0.0.0 0.0.0.0 "},                   // the first non-option ends parsing
        {{"-mt"}, "- 0.0.0.0 0.0.0.0 m"},                           // only the second character counts
        {{"-ffile.alf", "other.alf"}, "other.alf 0.0.0.0 0.0.0.0 "},
        {{"-s ", "2.0.0.1"}, "- 0.0.0.0 2.0.0.1 "},                 // as the front end passes it
        {{"-f", "-t"}, "-t 0.0.0.0 0.0.0.0 "},                      // the argument is the next word, whatever it is
        {{"-d", "2.0.0.5", "-d", "2.0.0.6"}, "- 2.0.0.6 0.0.0.0 "},  // the last value counts
        {{"-", "-:", "-i"}, "- 0.0.0.0 0.0.0.0 i"},                 // consumed without effect
        {{"-d", "fixture", "-s", "2.0.0.256"}, "- 255.255.255.255 255.255.255.255 "},
        {{"-p", "65535", "-u", "2.0.0.10,2.0.0.11", "-c", "-k", "1", "-o", "rig.csv", "-w", "90", "-S"},
         "- 0.0.0.0 0.0.0.0  u2.0.0.10 u2.0.0.11 p65535 c k1 orig.csv w90 S"},
        {{"-p", "0", "-k", "7", "-w", "0"}, "- 0.0.0.0 0.0.0.0  k7 w0 refused -w 0"},
        {{"-p", "65536"}, "- 0.0.0.0 0.0.0.0  refused -p 65536"},
        {{"-k", "2x"}, "- 0.0.0.0 0.0.0.0  refused -k 2x"},
        {{"-u", "2.0.0.10,"}, "- 0.0.0.0 0.0.0.0  refused -u 2.0.0.10,"},
        {{"-u", "2.0.0.10,fixture"}, "- 0.0.0.0 0.0.0.0  refused -u 2.0.0.10,fixture"},
        {{"-u", "0.0.0.0"}, "- 0.0.0.0 0.0.0.0  refused -u 0.0.0.0"},
        {{"-o", ""}, "- 0.0.0.0 0.0.0.0  refused -o ''"},
    };
    for (const auto &row : rows) {
        std::string line;
        for (const std::string &a : row.first)
            line += "[" + a + "]";
        EXPECT_EQ(parsed(row.first), row.second) << line;
    }
}

}  // namespace
