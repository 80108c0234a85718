#include "options.h"

#include <cstring>

#include "socket.h"

static const char OPTION_STRING[] = "f:d:s:mith";

int next_option(OptionParser *parser, int argc, char *const argv[], const char *optstring)
{
    if (parser->index >= argc || argv[parser->index][0] != '-')
        return OPTIONS_END;

    // Only the letter counts: "-mt" is -m, "-s " is -s. A lone "-" (letter
    // '\0') and "-:" are consumed as letters without meaning or argument.
    const char letter = argv[parser->index][1];
    const char *spec = letter ? std::strchr(optstring, letter) : nullptr;
    if (letter && !spec)
        return '?';

    if (spec && spec[1] == ':') {
        ++parser->index;
        if (parser->index >= argc)
            return '?';
        parser->argument = argv[parser->index];
    }
    ++parser->index;
    return letter;
}

bool parse_options(int argc, char *const argv[], RunSettings *settings)
{
    OptionParser parser;
    int option;
    while ((option = next_option(&parser, argc, argv, OPTION_STRING)) != OPTIONS_END) {
        switch (option) {
        case 'h':
        case '?':
            return false;
        case 'f':
            settings->alf_path = parser.argument;
            settings->alf_given = true;
            break;
        case 'd':
            settings->destination = parse_ipv4_address(parser.argument);
            break;
        case 's':
            settings->source = parse_ipv4_address(parser.argument);
            break;
        case 'm':
            settings->multi_fixture = true;
            break;
        case 'i':
            settings->ignore_version = true;
            break;
        case 't':
            settings->test_run = true;
            break;
        default:
            break;  // a letter with no meaning of its own, such as ':' or a lone "-"
        }
    }
    return true;
}
