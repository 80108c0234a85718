// Command line of lumiload: the run settings and the option parser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Everything a run takes from its command line. Addresses are IPv4 in
// network byte order; 0 means "not given".
struct RunSettings {
    std::string alf_path;
    bool alf_given = false;
    uint32_t destination = 0;  // -d
    uint32_t source = 0;       // -s
    bool multi_fixture = false;   // -m
    bool ignore_version = false;  // -i
    bool test_run = false;        // -t
    // Rig updates, beyond the seven options above.
    unsigned parallel = 0;        // -p: transfers in flight at once (implies -m); 0 = one after another
    std::vector<uint32_t> only;   // -u: the fixtures to update, in the order given; empty = all that need it
    bool confirm = false;         // -c: check the version each fixture reports after its restart
    unsigned restart_wait = 60;   // -w: seconds a fixture may take to come back after its upload
    unsigned link_wait = 20;      // -w S,L: seconds a transfer waits for a network link that went down
    unsigned failure_limit = 0;   // -k: start no more uploads after this many failures; 0 = no limit
    std::string summary_path;     // -o: the per-fixture summary as CSV; empty = none
    bool json = false;            // -j: the report as JSON Lines
    unsigned retries = 0;         // -r N[,S]: tries after a failed transfer, each after the node's
    unsigned node_timeout = 30;   //   own transfer time-out of S seconds
    bool stop_on_input = false;   // -S: the line "stop" on standard input starts no more uploads
    std::string library;          // -l: the folder of a firmware library; excludes -f
    unsigned test_group = 0;      // -n: fixtures updated and confirmed before any other starts; implies -c
    std::string resume_path;      // -u @file: the fixtures a summary CSV names as not updated
    bool network_check = false;   // -N: check the network instead of a run
    uint32_t locate = 0;          // -L: the fixture whose indicators flash (or stop: ",off"); 0 = none
    bool locate_on = true;
    std::string bad_value;        // "-p 0", say: an option whose value cannot be used; empty = none
};

// State of the option parser: the index of the next argument and the
// argument of the option last returned.
struct OptionParser {
    int index = 1;
    const char *argument = nullptr;
};

constexpr int OPTIONS_END = -1;

// A minimal getopt: returns the option letter, '?' for an unknown letter or
// a missing argument, or OPTIONS_END at the first argument that is not an
// option. Only the second character of an argument is looked at.
int next_option(OptionParser *parser, int argc, char *const argv[], const char *optstring);

// Reads the whole command line into `settings`. Returns false when the help
// text is to be printed instead of running (-h, unknown option, missing
// argument); parsing stops there. A value that cannot be used (-p, -k, -w,
// -n: a number from 1 to 65535; -u: dotted-quad addresses joined by commas,
// or @ and a file; -l with -f) is kept in `bad_value`, and the run refuses
// to start.
bool parse_options(int argc, char *const argv[], RunSettings *settings);
