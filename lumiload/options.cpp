#include "options.h"

#include <cstring>

#include "netif.h"

static const char OPTION_STRING[] = "f:d:s:mithp:u:ck:o:w:jr:Sl:n:L:N";
static const unsigned long MAX_COUNT = 65535;

// A count of fixtures or transfers: decimal digits only, 1 to MAX_COUNT.
static bool parse_count(const char *text, unsigned *count)
{
    unsigned long value = 0;
    for (const char *c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || (value = value * 10 + static_cast<unsigned long>(*c - '0')) > MAX_COUNT)
            return false;
    }
    *count = static_cast<unsigned>(value);
    return value > 0;
}

// "N" or "N,S": a count, and a second one kept in `second` when given.
static bool parse_pair(const char *text, unsigned *first, unsigned *second)
{
    const char *comma = std::strchr(text, ',');
    const std::string count = comma ? std::string(text, comma) : std::string(text);
    return parse_count(count.c_str(), first) && (!comma || parse_count(comma + 1, second));
}

// -r "N" or "N,S": N tries after a failure, S seconds of the node's own
// transfer time-out to wait before each (default 30).
static bool parse_retries(const char *text, RunSettings *settings)
{
    return parse_pair(text, &settings->retries, &settings->node_timeout);
}

// Addresses joined by commas, each a dotted quad of the sockets interface
// that names one host (neither 0.0.0.0 nor 255.255.255.255).
static bool parse_address_list(const char *text, std::vector<uint32_t> *addresses)
{
    std::vector<uint32_t> parsed;
    const char *start = text;
    for (;;) {
        const char *comma = std::strchr(start, ',');
        const std::string item = comma ? std::string(start, comma) : std::string(start);
        const uint32_t address = parse_ipv4_address(item.c_str());
        if (item.empty() || address == 0 || address == 0xFFFFFFFFu)
            return false;
        parsed.push_back(address);
        if (!comma)
            break;
        start = comma + 1;
    }
    *addresses = parsed;
    return true;
}

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
        case 'p':
            if (!parse_count(parser.argument, &settings->parallel))
                settings->bad_value = std::string("-p ") + parser.argument;
            break;
        case 'u':
            if (parser.argument[0] == '@' && parser.argument[1])
                settings->resume_path = parser.argument + 1;
            else if (!parse_address_list(parser.argument, &settings->only))
                settings->bad_value = std::string("-u ") + parser.argument;
            break;
        case 'c':
            settings->confirm = true;
            break;
        case 'S':
            settings->stop_on_input = true;
            break;
        case 'j':
            settings->json = true;
            break;
        case 'k':
            if (!parse_count(parser.argument, &settings->failure_limit))
                settings->bad_value = std::string("-k ") + parser.argument;
            break;
        case 'w':
            if (!parse_pair(parser.argument, &settings->restart_wait, &settings->link_wait))
                settings->bad_value = std::string("-w ") + parser.argument;
            break;
        case 'r':
            if (!parse_retries(parser.argument, settings))
                settings->bad_value = std::string("-r ") + parser.argument;
            break;
        case 'o':
            settings->summary_path = parser.argument;
            if (settings->summary_path.empty())
                settings->bad_value = "-o ''";
            break;
        case 'l':
            settings->library = parser.argument;
            if (settings->library.empty())
                settings->bad_value = "-l ''";
            break;
        case 'N':
            settings->network_check = true;
            break;
        case 'L': {
            const std::string value = parser.argument;
            const size_t comma = value.find(',');
            settings->locate = parse_ipv4_address(value.substr(0, comma).c_str());
            settings->locate_on = comma == std::string::npos;
            if (settings->locate == 0 || settings->locate == 0xFFFFFFFFu ||
                (comma != std::string::npos && value.substr(comma) != ",off"))
                settings->bad_value = "-L " + value;
            break;
        }
        case 'n':
            if (!parse_count(parser.argument, &settings->test_group))
                settings->bad_value = std::string("-n ") + parser.argument;
            settings->confirm = true;
            break;
        default:
            break;  // a letter with no meaning of its own, such as ':' or a lone "-"
        }
    }
    if (settings->network_check && (settings->alf_given || !settings->library.empty() || settings->locate))
        settings->bad_value = "-N with an image or -L (a network check sends nothing but a poll)";
    if (settings->locate && (settings->alf_given || !settings->library.empty()))
        settings->bad_value = "-L with an image (a locate run sends no firmware)";
    if (settings->alf_given && !settings->library.empty())
        settings->bad_value = "-l with -f (a run takes one image or one library)";
    if (settings->network_check && (settings->alf_given || !settings->library.empty() || settings->locate))
        settings->bad_value = "-N with an image or -L (a network check sends nothing but a poll)";
    if (settings->locate && (settings->alf_given || !settings->library.empty()))
        settings->bad_value = "-L with an image (a locate run sends no firmware)";
    if (settings->alf_given && !settings->library.empty())
        settings->bad_value = "-l with -f (a run takes one image or one library)";
    return true;
}
