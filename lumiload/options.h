// Command line of lumiload: the run settings and the option parser.
#pragma once

#include <cstdint>
#include <string>

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
// argument); parsing stops there.
bool parse_options(int argc, char *const argv[], RunSettings *settings);
