#include "report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <string>

#include "firmware_version.h"
#include "packets.h"

#ifndef LUMILOAD_PLATFORM_LABEL
#define LUMILOAD_PLATFORM_LABEL ""
#endif

static const char SEPARATOR[] = "########################################\n";
static const char TOOL_VERSION[] = "0.6";
static const int JSON_FORMAT_VERSION = 1;

// The run's report form, and what JSON Lines gather for their objects.
static struct {
    bool event_lines = false, json = false;
    uint64_t start_us = 0;
    bool start_written = false;         // JSON: the start object is out
    bool test_run = false;
    std::string alf_path, image, interface;  // JSON members; "" until known
    std::vector<std::string> summary;   // JSON objects, one per fixture
} form;

// printf's formatting into a text of its own length.
static std::string format_text(const char *format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::vsnprintf(&text[0], text.size() + 1, format, args);
    return text;
}

// Texts that come from outside (image names, fixture names, the name of the
// program that holds the port) must not add or break report lines, which the
// front end parses: control bytes become "?".
static std::string safe_text(const char *text, size_t max_length)
{
    std::string safe;
    for (size_t i = 0; i < max_length && text[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        safe += static_cast<char>(c < 0x20 || c == 0x7F ? '?' : c);
    }
    return safe;
}

static void print_text_field(const char *text, size_t max_length)
{
    std::fputs(safe_text(text, max_length).c_str(), stdout);
}

static std::string address_text(uint32_t address)
{
    const uint8_t *b = reinterpret_cast<const uint8_t *>(&address);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}

static void print_address(uint32_t address) { std::fputs(address_text(address).c_str(), stdout); }

static void print_version(uint16_t version) { std::printf("%s\n", version_text(version).c_str()); }


__attribute__((format(printf, 1, 2))) static std::string text_of(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = format_text(format, args);
    va_end(args);
    return text;
}

// JSON Lines. Strings are written as ASCII: quotes, backslashes and
// control bytes escaped, bytes from 0x80 as the Latin-1 characters they
// would be, so a name with any bytes is still valid JSON on one line.
static std::string json_string(const std::string &text)
{
    std::string json = "\"";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\')
            json += std::string("\\") + c;
        else if (byte < 0x20 || byte >= 0x7F)
            json += text_of("\\u%04x", byte);
        else
            json += c;
    }
    return json + "\"";
}

// `"key":value,` for an object under construction; the value is JSON.
static std::string member(const char *key, const std::string &json) { return json_string(key) + ":" + json + ","; }
static std::string text_member(const char *key, const std::string &text) { return member(key, json_string(text)); }
static std::string number_member(const char *key, long long number) { return member(key, std::to_string(number)); }

// An object from its members (each ending in a comma).
static std::string json_object(std::string members)
{
    if (!members.empty())
        members.pop_back();
    return "{" + members + "}";
}

// The first object of every JSON run, written before whatever comes first:
// the tool, the format, and of the run what is known by then.
static void write_json_start()
{
    form.start_written = true;
    const std::string platform = LUMILOAD_PLATFORM_LABEL;
    std::string image = "null";
    if (!form.image.empty())
        image = json_object(text_member("path", form.alf_path) + form.image);
    const std::string start = text_member("type", "start") + number_member("format", JSON_FORMAT_VERSION) +
                              text_member("tool", "lumiload") + text_member("version", TOOL_VERSION) +
                              text_member("platform", platform.substr(platform.find_first_not_of(' '))) +
                              member("test_run", form.test_run ? "true" : "false") +
                              member("interface", form.interface.empty() ? "null" : form.interface) +
                              member("image", image);
    std::printf("%s\n", json_object(start).c_str());
}

static void write_json(const std::string &members)
{
    if (!form.start_written)
        write_json_start();
    std::printf("%s\n", json_object(members).c_str());
    std::fflush(stdout);  // scripts and the window follow the run live
}

// Standard error's text, written as it is; with JSON, each line of it that
// is not empty is also an error object, naming the fixture when it is about
// one (`fixture` not 0).
static void write_errors(const std::string &text, uint32_t fixture = 0)
{
    std::fputs(text.c_str(), stderr);
    if (!form.json)
        return;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            write_json(text_member("type", "error") + (fixture ? text_member("address", address_text(fixture)) : "") +
                       text_member("text", text.substr(start, end - start)));
    }
}

void report_begin(bool event_lines, bool json, uint64_t start_us)
{
    form.event_lines = event_lines;
    form.json = json;
    form.start_us = start_us;
}

void report_end(int status)
{
    if (!form.json)
        return;
    std::string summary;
    for (const std::string &row : form.summary)
        summary += (summary.empty() ? "" : ",") + row;
    write_json(text_member("type", "end") + number_member("status", status) + member("summary", "[" + summary + "]"));
}

void report_banner()
{
    if (form.json)
        return;
    std::printf("# Orvane Art-Net Fixture Firmware Update Utility (version %s%s)\n", TOOL_VERSION,
                LUMILOAD_PLATFORM_LABEL);
}

// Always text: help is for the operator, not for scripts.
void report_help()
{
    std::fputs("Parameters:\n"
               "    File:                  -f [fw.alf]    (skip to only perform fixture detection without update)\n"
               "    Destination IP:        -d [x.x.x.x]   (skip to detect connected fixtures)\n"
               "    Source IP:             -s [0.0.0.0]   (skip to choose automatically)\n"
               "    Multi-fixture upload:  -m\n"
               "    Ignore version check:  -i\n"
               "    Test run:              -t             (specify to prevent actual programming taking place)\n"
               "    Show help message:     -h\n"
               "    Parallel upload:       -p [N]         (update up to N fixtures at once; implies -m)\n"
               "    Fixtures to update:    -u [a,b,...]   (skip to update every fixture that needs the image)\n"
               "    Confirm new version:   -c             (wait for each fixture's restart and check its version)\n"
               "    Stop after failures:   -k [K]         (start no more uploads once K fixtures have failed)\n"
               "    Summary as CSV:        -o [file.csv]\n"
               "    Restart wait:          -w [60]        (seconds a fixture may take to come back, with -c)\n"
               "    JSON Lines report:     -j             (one JSON object per line on standard output, for scripts)\n"
               "    Retries:               -r [N]         (try a fixture that failed up to N more times, after its own time-out)\n"
               "    Stop on input:         -S             (start no more uploads after a line \"stop\" on standard input)\n"
               "    Firmware library:      -l [folder]    (each fixture gets the newest image of the folder that fits it; not with -f)\n"
               "    Test group first:      -n [N]         (update and confirm the first N fixtures before the others; implies -c)\n"
               "    Resume:                -u @[file.csv] (the fixtures a summary file of -o names as not updated)\n"
               "    Locate a fixture:      -L [x.x.x.x]   (its indicators flash; -L x.x.x.x,off ends it)\n"
               "    Network check:         -N             (interfaces, port 6454, the fixtures that answer and their troubles)\n",
               stdout);
}

void report_test_run_mode()
{
    form.test_run = true;
    if (!form.json)
        std::fputs("# TEST RUN MODE\n", stdout);
}

void report_no_alf_file()
{
    if (!form.json)
        std::fputs("# No ALF file supplied with -f, performing fixture poll without update.\n", stdout);
}

void report_separator()
{
    if (!form.json)
        std::fputs(SEPARATOR, stdout);
}

void report_alf_opened(const char *path)
{
    form.alf_path = path;
    if (!form.json)
        std::printf("Opened ALF file %s: \n", path);
}

void report_alf_header(const std::string &name, uint16_t version, uint16_t data_checksum, uint32_t data_length,
                       const std::vector<uint16_t> &oem_codes, uint32_t block_count)
{
    std::string codes;
    for (uint16_t code : oem_codes)
        codes += text_of("0x%04x ", code);
    if (!form.json) {
        std::fputs("    name=", stdout);
        print_text_field(name.c_str(), name.size());
        std::fputs("\n    version=", stdout);
        print_version(version);
        std::printf("    data_checksum=0x%04x\n", data_checksum);
        std::printf("    data_length=%" PRIu32 "W\n", data_length);
        std::printf("    oemCodes=< %s>\n", codes.c_str());
        std::printf("    blockCount=%" PRIu32 "\n", block_count);
        return;
    }
    std::string code_list;
    for (uint16_t code : oem_codes)
        code_list += (code_list.empty() ? "" : ",") + json_string(text_of("0x%04x", code));
    form.image = text_member("name", safe_text(name.c_str(), name.size())) + text_member("version", version_text(version)) +
                 text_member("checksum", text_of("0x%04x", data_checksum)) + number_member("words", data_length) +
                 member("oem_codes", "[" + code_list + "]") + number_member("blocks", block_count);
}

void report_alf_open_failed(const char *path) { report_error("failed to open ALF file at %s", path); }
void report_alf_header_read_failed() { report_error("Failed to read ALF header data"); }

void report_alf_length_mismatch(int64_t expected, int64_t actual)
{
    report_error("ALF file length does not agree with header (expected=%" PRId64 "B actual=%" PRId64 "B)", expected,
                 actual);
}

void report_alf_seek_failed() { report_error("failed to seek past header"); }
void report_alf_read_failed() { report_error("fread failed!"); }

void report_alf_checksum_invalid(uint16_t expected, uint16_t actual)
{
    report_error("data checksum is invalid (expected=0x%04x actual=0x%04x)", expected, actual);
}

void report_error(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    write_errors("Error: " + format_text(format, args) + "\n");
    va_end(args);
}

void report_step_error(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    write_errors("    Error: " + format_text(format, args) + "\n");
    va_end(args);
}

void report_winsock_failed() { write_errors("ERROR: winsock2 initialisation failed\n"); }
void report_getifaddrs_failed()
{
    const int error = errno;
    write_errors(std::string("getifaddrs: ") + std::strerror(error) + "\n");
}

void report_socket_bind_failed(const char *reason)
{
    report_error("Failed to bind UDP socket: %s", reason ? reason : std::strerror(errno));
}

// An indented line of its own after the bind error; any process may give
// itself any name.
void report_port_owner(const char *program, unsigned long pid)
{
    write_errors(text_of("    Port 6454 is in use by %s (pid %lu).\n", safe_text(program, std::strlen(program)).c_str(), pid));
}

void report_send_failed(int error) { write_errors(text_of("Failed to send UDP packet. errno=%d\n", error)); }

void report_multiple_fixtures()
{
    write_errors("Error: multiple fixtures detected.\n"
                 "# Connect only one, or specify which to use with -d, or use -m to allow multiple upload.\n");
}

void report_interface(uint32_t source, uint32_t netmask, uint32_t destination)
{
    form.interface = json_object(text_member("address", address_text(source)) +
                                 text_member("netmask", address_text(netmask)) +
                                 text_member("poll", address_text(destination)));
}

void report_fixture(const PollReply &fixture, const char *status)
{
    const uint8_t *m = fixture.mac;
    const std::string mac = text_of("%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    const std::string short_name = safe_text(fixture.short_name, sizeof fixture.short_name);
    const std::string long_name = safe_text(fixture.long_name, sizeof fixture.long_name);
    if (form.json) {
        write_json(text_member("type", "fixture") + text_member("address", address_text(fixture.ip)) +
                   text_member("mac", mac) + text_member("esta", text_of("0x%04x", fixture.esta_code)) +
                   text_member("oem", text_of("0x%04x", fixture.oem_code)) +
                   text_member("version", version_text(fixture.version)) + text_member("short_name", short_name) +
                   text_member("long_name", long_name) + member("verdict", status ? json_string(status) : "null"));
        return;
    }
    std::fputs("Fixture detected:\n    ip=", stdout);
    print_address(fixture.ip);
    std::printf("\n    mac=%s\n", mac.c_str());
    std::printf("    estaMan=0x%04x\n", fixture.esta_code);
    std::printf("    oemCode=0x%04x\n", fixture.oem_code);
    std::fputs("    version=", stdout);
    print_version(fixture.version);
    std::printf("    portName=%s\n    longName=%s\n", short_name.c_str(), long_name.c_str());
    if (status)
        std::printf("    upgradeStatus=%s\n", status);
}

void report_discovery_end()
{
    if (!form.json)
        std::fputs("\n", stdout);
}

void report_address_conflict(uint32_t address, const std::vector<std::string> &macs)
{
    std::string list, json;
    for (const std::string &mac : macs) {
        list += (list.empty() ? "" : " ") + mac;
        json += (json.empty() ? "" : ",") + json_string(mac);
    }
    if (form.json)
        write_json(text_member("type", "conflict") + text_member("address", address_text(address)) +
                   member("macs", "[" + json + "]"));
    else
        std::printf("# Address conflict: %s answers from %s; no upload goes there\n", address_text(address).c_str(),
                    list.c_str());
}

// "1 fixture", "2 fixtures": the counts of the lines that have no older
// wording to keep.
static std::string count_of(size_t count, const char *one, const char *many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

static std::string oem_code_text(const std::vector<uint16_t> &codes, const char *separator)
{
    std::string text;
    for (uint16_t code : codes)
        text += (text.empty() ? "" : separator) + text_of("0x%04x", code);
    return text;
}

void report_library(const std::string &folder, const std::vector<LibraryFileLine> &images, size_t left_out)
{
    // The start object names no single image: the library object follows it.
    form.image.clear();
    form.alf_path.clear();
    if (form.json) {
        std::string list;
        for (const LibraryFileLine &image : images) {
            std::string codes;
            for (uint16_t code : image.oem_codes)
                codes += (codes.empty() ? "" : ",") + json_string(text_of("0x%04x", code));
            list += (list.empty() ? "" : ",") +
                    json_object(text_member("file", image.file) + text_member("name", safe_text(image.name.c_str(), image.name.size())) +
                                text_member("version", version_text(image.version)) + member("oem_codes", "[" + codes + "]") +
                                number_member("blocks", image.blocks));
        }
        write_json(text_member("type", "library") + text_member("folder", folder) + member("images", "[" + list + "]") +
                   number_member("left_out", static_cast<long long>(left_out)));
        return;
    }
    std::printf("%s# Firmware library %s: %s, %s left out\n", SEPARATOR, folder.c_str(),
                count_of(images.size(), "image", "images").c_str(), count_of(left_out, "file", "files").c_str());
    for (const LibraryFileLine &image : images)
        std::printf("    %s name=%s version=%s oemCodes=< %s > blockCount=%" PRIu32 "\n", image.file.c_str(),
                    safe_text(image.name.c_str(), image.name.size()).c_str(), version_text(image.version).c_str(),
                    oem_code_text(image.oem_codes, " ").c_str(), image.blocks);
    std::fputs(SEPARATOR, stdout);
}

void report_library_plan(const std::vector<PlanLine> &plan)
{
    static const char *const actions[] = {"update", "downgrade", "current", "no-image", "conflict"};
    if (form.json) {
        for (const PlanLine &line : plan)
            write_json(text_member("type", "plan-fixture") + text_member("address", address_text(line.address)) +
                       text_member("name", safe_text(line.name.c_str(), line.name.size())) + text_member("version", version_text(line.version)) +
                       member("image", line.image.empty() ? "null" : json_string(line.image)) +
                       member("image_version", line.image.empty() ? "null" : json_string(version_text(line.image_version))) +
                       text_member("action", line.action) + (line.why.empty() ? "" : text_member("why", line.why)));
        return;
    }
    std::printf("# Plan: %s\n", count_of(plan.size(), "fixture", "fixtures").c_str());
    for (const PlanLine &line : plan) {
        std::printf("    %s \"%s\" %s: %s", address_text(line.address).c_str(), safe_text(line.name.c_str(), line.name.size()).c_str(),
                    version_text(line.version).c_str(), line.action);
        if (!line.image.empty())
            std::printf(" %s %s", line.image.c_str(), version_text(line.image_version).c_str());
        std::printf("%s%s\n", line.why.empty() ? "" : " - ", line.why.c_str());
    }
    std::string counts;
    for (const char *action : actions) {
        const auto n = std::count_if(plan.begin(), plan.end(), [&](const PlanLine &l) { return std::strcmp(l.action, action) == 0; });
        counts += text_of(" %s=%ld", action, static_cast<long>(n));
    }
    std::printf("# Plan counts:%s\n%s", counts.c_str(), SEPARATOR);
}

void report_locate(uint32_t address, bool on, const PollReply *answer)
{
    const std::string where = address_text(address);
    if (form.json) {
        write_json(text_member("type", "locate") + text_member("address", where) + text_member("state", on ? "on" : "off") +
                   member("answered", answer ? "true" : "false"));
    } else if (answer) {
        if (on)
            std::printf("# Locating %s: its indicators flash until lumiload -L %s,off\n", where.c_str(), where.c_str());
        else
            std::printf("# Locate ended: the indicators of %s are normal again\n", where.c_str());
        report_fixture(*answer);
    }
    if (!answer)
        report_error("%s did not answer the %s request (ArtAddress)", where.c_str(), on ? "locate" : "end of locate");
}

// "2.0.0.0/8": a network in network byte order, its prefix counted from
// the netmask's first byte on.
static std::string network_text(uint32_t address, uint32_t netmask)
{
    const uint8_t *b = reinterpret_cast<const uint8_t *>(&netmask);
    const uint32_t bits = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    int prefix = 0;
    for (uint32_t rest = bits; rest & 0x80000000u; rest <<= 1)
        ++prefix;
    return address_text(address & netmask) + "/" + std::to_string(prefix);
}

static std::string mac_of(const PollReply &fixture)
{
    const uint8_t *m = fixture.mac;
    return text_of("%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
}

// One problem of the check: what stands in the way, and what to do.
static void check_problem(const char *kind, uint32_t address, const std::string &text, const std::string &fix)
{
    if (form.json)
        write_json(text_member("type", "check-problem") + text_member("kind", kind) +
                   (address ? text_member("address", address_text(address)) : "") + text_member("text", text) +
                   text_member("fix", fix));
    else
        std::printf("Problem: %s\n    Fix: %s\n", text.c_str(), fix.c_str());
}

void report_check_interfaces(const std::vector<CheckInterface> &interfaces)
{
    if (!form.json)
        std::fputs("# Network check\n", stdout);
    for (const CheckInterface &at : interfaces) {
        std::string state = at.up ? "up" : "down";
        state += at.carrier ? ", link" : ", no link";
        if (at.loopback)
            state += ", loopback";
        if (at.artnet)
            state += ", Art-Net capable";
        const std::string network = network_text(at.address, at.netmask);
        const std::string where = address_text(at.address) + network.substr(network.find('/'));
        if (form.json)
            write_json(text_member("type", "check-interface") + text_member("name", safe_text(at.name.c_str(), at.name.size())) +
                       text_member("address", address_text(at.address)) + text_member("network", network_text(at.address, at.netmask)) +
                       member("broadcast", at.broadcast ? json_string(address_text(at.broadcast)) : "null") +
                       member("up", at.up ? "true" : "false") + member("link", at.carrier ? "true" : "false") +
                       member("artnet", at.artnet ? "true" : "false"));
        else
            std::printf("    interface %s %s%s: %s\n", safe_text(at.name.c_str(), at.name.size()).c_str(), where.c_str(),
                        at.broadcast ? (", broadcast " + address_text(at.broadcast)).c_str() : "", state.c_str());
    }
}

void report_check_choice(const CheckInterface *chosen, uint32_t named)
{
    if (!chosen) {
        check_problem("no-interface", named,
                      named ? "no Art-Net-capable interface (up, broadcast, not loopback) holds " + address_text(named)
                            : std::string("no Art-Net-capable interface is in the Art-Net network that holds 2.0.0.1"),
                      named ? "name an address of this computer's interface to the fixtures with -s"
                            : "give the interface to the fixtures an address in their network (2.x.x.x/8), or name it with -s");
        return;
    }
    const std::string why = named ? "named with -s" : "its network holds 2.0.0.1, the Art-Net network";
    if (form.json)
        write_json(text_member("type", "check-choice") + text_member("name", safe_text(chosen->name.c_str(), chosen->name.size())) +
                   text_member("address", address_text(chosen->address)) + text_member("why", why));
    else
        std::printf("# A run would use %s (%s): %s\n", safe_text(chosen->name.c_str(), chosen->name.size()).c_str(),
                    address_text(chosen->address).c_str(), why.c_str());
}

void report_check_port_taken(const CheckInterface &at)
{
    check_problem("port-taken", at.address,
                  "port 6454 cannot be had on " + address_text(at.address) + " (the lines above say why, and who holds it)",
                  "close the program that holds port 6454 (a console, a visualiser, another lumiload) during the update");
}

void report_check_answers(const CheckInterface &at, const std::vector<PollReply> &answers)
{
    const std::string name = safe_text(at.name.c_str(), at.name.size());
    if (!form.json)
        std::printf("# On %s (%s): port 6454 free; %s\n", name.c_str(), network_text(at.address, at.netmask).c_str(),
                    (answers.size() == 1 ? std::string("1 fixture answers") : count_of(answers.size(), "", "fixtures answer")).c_str());
    for (const PollReply &fixture : answers) {
        const std::string short_name = safe_text(fixture.short_name, sizeof fixture.short_name);
        if (form.json)
            write_json(text_member("type", "check-fixture") + text_member("interface", name) +
                       text_member("address", address_text(fixture.ip)) + text_member("mac", mac_of(fixture)) +
                       text_member("name", short_name) + text_member("version", version_text(fixture.version)) +
                       text_member("esta", text_of("0x%04x", fixture.esta_code)) + text_member("oem", text_of("0x%04x", fixture.oem_code)));
        else
            std::printf("    %s %s \"%s\" version=%s estaMan=0x%04x oemCode=0x%04x\n", address_text(fixture.ip).c_str(),
                        mac_of(fixture).c_str(), short_name.c_str(), version_text(fixture.version).c_str(), fixture.esta_code,
                        fixture.oem_code);
    }
}

void report_check_nobody(const CheckInterface &at)
{
    check_problem("no-fixture", at.address, "no fixture answers on " + safe_text(at.name.c_str(), at.name.size()) + " (" +
                                                network_text(at.address, at.netmask) + ")",
                  "check the cable and the switch, that the fixtures are powered, and that this is their network");
}

void report_check_outside(const CheckInterface &at, const PollReply &fixture, const CheckInterface *home)
{
    std::string text = address_text(fixture.ip) + " (" + mac_of(fixture) + ") answers on " +
                       safe_text(at.name.c_str(), at.name.size()) + " from outside its network " +
                       network_text(at.address, at.netmask) + "; a run drops its replies";
    std::string fix;
    if (home) {
        text += "; it is in the network of " + safe_text(home->name.c_str(), home->name.size()) + " (" + address_text(home->address) + ")";
        fix = "run with -s " + address_text(home->address) + " for it, or give it an address in " + network_text(at.address, at.netmask);
    } else {
        fix = "give the fixture an address in " + network_text(at.address, at.netmask) +
              ", or give this computer an address in the fixture's network";
    }
    check_problem("outside-network", fixture.ip, text, fix);
}

void report_check_swapped_maker(const PollReply &fixture)
{
    check_problem("swapped-maker-code", fixture.ip,
                  text_of("%s reports estaMan=0x%04x: the maker code 0x%04x with its bytes swapped, so no image fits it",
                          address_text(fixture.ip).c_str(), fixture.esta_code, MAKER_CODE),
                  "its node firmware writes EstaMan high byte first; update it by the maker's own way, or report it to the maker");
}

void report_check_conflict(const std::vector<const PollReply *> &devices)
{
    std::string macs;
    for (const PollReply *device : devices)
        macs += (macs.empty() ? "" : " ") + mac_of(*device);
    check_problem("address-conflict", devices.front()->ip,
                  text_of("%u devices answer at %s: %s; no upload may go there", static_cast<unsigned>(devices.size()),
                          address_text(devices.front()->ip).c_str(), macs.c_str()),
                  "give each device its own address (two fixtures left at the same factory address, say)");
}

void report_check_firewall(const FirewallCheck &firewall)
{
    if (firewall.blocks) {
        check_problem("firewall", 0, "the Windows Firewall blocks lumiload in the active profile " + firewall.profiles + ": " + firewall.text,
                      "allow lumiload.exe in (the installer's rule, or add-firewall-rule.cmd as administrator)");
        return;
    }
    if (form.json)
        write_json(text_member("type", "check-firewall") + member("checked", firewall.checked ? "true" : "false") +
                   text_member("profiles", firewall.profiles) + text_member("text", firewall.text));
    else
        std::printf("# Firewall: %s\n", firewall.text.c_str());
}

void report_check_end(unsigned problems)
{
    if (form.json)
        write_json(text_member("type", "check-end") + number_member("problems", problems));
    else if (problems == 0)
        std::fputs("# Network check: nothing stands in the way of an update\n", stdout);
    else
        std::printf("# Network check: %s\n", count_of(problems, "problem", "problems").c_str());
}

void report_resume(const std::string &path, size_t count)
{
    if (form.json)
        write_json(text_member("type", "resume") + text_member("file", path) + number_member("fixtures", static_cast<long long>(count)));
    else
        std::printf("# Resuming from %s: %s not updated\n", path.c_str(), count_of(count, "fixture", "fixtures").c_str());
}

void report_plan(const std::vector<uint32_t> &addresses)
{
    if (!form.json) {
        std::printf("%zu fixtures to update\n", addresses.size());
        return;
    }
    std::string list;
    for (uint32_t address : addresses)
        list += (list.empty() ? "" : ",") + json_string(address_text(address));
    write_json(text_member("type", "plan") + member("fixtures", "[" + list + "]"));
}

void report_skipped_fixture(uint32_t address)
{
    if (form.json)
        write_json(text_member("type", "event") + text_member("address", address_text(address)) +
                   text_member("event", "skipped") + text_member("text", "test run"));
    else
        std::printf("%sSkipped update of fixture at %s due to -t flag\n", SEPARATOR, address_text(address).c_str());
}

void report_uploading_to(uint32_t address)
{
    if (!form.json)
        std::printf("%sUploading to fixture at %s:\n", SEPARATOR, address_text(address).c_str());
}

// One event in both text forms, side by side: the sequential report's
// (`marks` on standard output: progress marks and the lines around them;
// `marks_error` on standard error) and the parallel run's event line and
// message (`line`, `line_error`, each after the fixture's address).
struct EventTexts {
    std::string marks, marks_error, line, line_error;
};

static std::string upper_first(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

// Without -c, a last block unanswered, or refused when sent again, may
// have been taken: its acknowledgement lost, the node restarted.
static std::string may_have_taken(const TransferEvent &e)
{
    const bool last = e.block == e.block_count;
    if (last && ((e.kind == TransferEventKind::BlockUnanswered && !e.send_error) ||
                 (e.kind == TransferEventKind::BlockRejected && e.attempt > 1)))
        return "; the fixture may have taken the image (-c would tell)";
    return "";
}

static EventTexts event_texts(const TransferEvent &e)
{
    const std::string block = text_of("block %" PRIu32 " of %" PRIu32, e.block, e.block_count);
    const std::string upload_failed = "Error: Firmware upload failed.\n";
    const std::string failed = e.retry ? text_of("try %d failed: ", e.attempt) : "failed: ";
    std::string verdict;
    switch (e.kind) {
    case TransferEventKind::Started:
        if (e.image)
            return {"    image=" + std::string(e.image) + text_of("\n    blockCount=%" PRIu32 "\n    progress=", e.block_count), "",
                    text_of("upload started, blockCount=%" PRIu32 ", image=", e.block_count) + e.image, ""};
        return {text_of("    blockCount=%" PRIu32 "\n    progress=", e.block_count), "",
                text_of("upload started, blockCount=%" PRIu32, e.block_count), ""};
    case TransferEventKind::BlockRead:
        return {e.block == e.block_count ? "L" : e.block == 1 ? "F" : "-", "", "", ""};
    case TransferEventKind::BlockSent:
        return {};
    case TransferEventKind::AttemptFailed:
        return {e.send_error ? "!" : "T", "",
                block + text_of(" attempt %d failed: %s", e.attempt, e.send_error ? "send error" : "no reply"), ""};
    case TransferEventKind::BlockAccepted:
        return {e.value == FIRM_BLOCK_GOOD ? " " : "G", "", block + " accepted", ""};
    case TransferEventKind::Uploaded:
        return {"\n# Firmware uploaded successfully\n", "", "uploaded", ""};
    case TransferEventKind::RestartBegun:
        return {"# Waiting for the fixture to restart\n", "", "waiting for the fixture to restart", ""};
    case TransferEventKind::Confirmed:
        verdict = "the fixture reports version " + version_text(e.version);
        return {"# Confirmed: " + verdict + "\n", "", "confirmed: " + verdict, ""};
    case TransferEventKind::BlockUnanswered:
        verdict = e.send_error ? text_of("%s could not be sent after %d attempts", block.c_str(), e.attempt)
                               : text_of("no reply to %s after %d attempts", block.c_str(), e.attempt);
        return {"\n\n", e.retry ? "" : upload_failed, failed + verdict + may_have_taken(e), ""};
    case TransferEventKind::BlockRejected:
        return {"B\n\n", text_of("    Error: unexpected reply type=%d\n", e.value) + (e.retry ? "" : upload_failed),
                failed + text_of("the fixture rejected %s (reply type %d)", block.c_str(), e.value) + may_have_taken(e),
                ""};
    case TransferEventKind::LastBlockUnacknowledged:
        verdict = "the last block was not acknowledged; the restart will tell whether the fixture took the image";
        return {(e.value < 0 ? "\n# " : "B\n# ") + upper_first(verdict) + "\n", "", verdict, ""};
    case TransferEventKind::LastAckLost:
        verdict = "last acknowledgement lost: the fixture took the image";
        return {"# " + upper_first(verdict) + "\n", "", verdict, ""};
    case TransferEventKind::RetryWaiting:
        verdict = text_of("trying again after the fixture's own time-out of %d s (try %d of %u)", e.value, e.attempt,
                          e.limit);
        return {"# " + upper_first(verdict) + "\n", "", verdict, ""};
    case TransferEventKind::Retrying:
        verdict = text_of("the fixture answers again: try %d of %u", e.attempt, e.limit);
        return {"# " + upper_first(verdict) + "\n", "", verdict, ""};
    case TransferEventKind::RetryNoAnswer:
        verdict = text_of("the fixture did not answer within %d s after its failure", e.value);
        return {"", "Error: " + verdict + "\n", "failed: " + verdict, ""};
    case TransferEventKind::FoundByMac:
        verdict = "found again at " + address_text(e.moved_to) + " by its MAC";
        return {"# " + upper_first(verdict) + "\n", "", verdict, ""};
    case TransferEventKind::NodeSays:
        verdict = "the fixture reports: " + safe_text(e.text, std::strlen(e.text));
        return {"# " + upper_first(verdict) + "\n", "", verdict, ""};
    case TransferEventKind::LinkDown:
        verdict = text_of("%s could not be sent: the network link stayed down for %d s", block.c_str(), e.value);
        return {"\n\n", "    Error: " + verdict + "\n" + (e.retry ? "" : upload_failed), failed + verdict, ""};
    case TransferEventKind::Conflict:
        verdict = text_of("address conflict, devices %s answer at this address", e.text);
        return {"", "Error: fixture " + address_text(e.fixture) + " is not updated: " + verdict + "\n",
                "not started: " + verdict, ""};
    case TransferEventKind::BlockUnreadable:
        return {"\n", "    Error: failed to read data block from ALF file\n" + upload_failed,
                "failed: " + block + " could not be read from the image file", ""};
    case TransferEventKind::WrongVersion:
        verdict = "the fixture came back with version " + version_text(e.version) + ", not " + version_text(e.expected);
        return {"", "Error: " + verdict + "\n", "failed: " + verdict, ""};
    case TransferEventKind::NoAnswer:
        verdict = text_of("the fixture did not answer within %d s after the upload", e.value);
        return {"", "Error: " + verdict + "\n", "failed: " + verdict, ""};
    case TransferEventKind::NotNeeded:
        return {"", "Error: fixture " + address_text(e.fixture) + " is not among the fixtures that need the image\n",
                "not started: not among the fixtures that need the image", ""};
    case TransferEventKind::Stopped:
        return {text_of("%sSkipped update of fixture at %s due to stop (-S)\n", SEPARATOR, address_text(e.fixture).c_str()),
                "", "not started: the run was stopped (-S)", ""};
    case TransferEventKind::HeldBack:
        return {text_of("%sSkipped update of fixture at %s due to -k %u\n", SEPARATOR, address_text(e.fixture).c_str(), e.limit),
                "", text_of("not started: %d fixtures failed (-k %u)", e.value, e.limit), ""};
    case TransferEventKind::HeldByTestGroup:
        verdict = text_of("%d of the first %u fixtures failed (-n %u)", e.value, e.limit, e.limit);
        return {text_of("%sSkipped update of fixture at %s: %s\n", SEPARATOR, address_text(e.fixture).c_str(), verdict.c_str()),
                "", "not started: " + verdict, ""};
    case TransferEventKind::SendFailed:
        verdict = text_of("Failed to send UDP packet. errno=%d", e.value);
        return {"", verdict + "\n", "", verdict};
    case TransferEventKind::ReceiveError:
        verdict = text_of("[WSA ERROR %d]", e.value);
        return {"", "\n" + verdict + "\n", "", verdict};
    case TransferEventKind::BadProtocol:
        verdict = "Reply has unexpected artnet protocol version";
        return {"", "    " + verdict + "\n", "", verdict};
    }
    return {};
}

// The JSON members of an event beyond its address and time: its name and
// the values that belong to it; `text` is its event line's.
static std::string event_members(const TransferEvent &e, const std::string &text)
{
    const std::string block = number_member("block", e.block) + number_member("blocks", e.block_count);
    const std::string attempt = number_member("attempt", e.attempt);
    const std::string said = text.empty() ? "" : text_member("text", text);
    switch (e.kind) {
    case TransferEventKind::Started:
        return text_member("event", "started") + number_member("blocks", e.block_count) +
               (e.image ? text_member("image", e.image) : "") + said;
    case TransferEventKind::BlockRead:
        return text_member("event", "block-read") + block;
    case TransferEventKind::BlockSent:
        return text_member("event", "block-sent") + block + attempt;
    case TransferEventKind::AttemptFailed:
        return text_member("event", "attempt-failed") + block + attempt +
               text_member("reason", e.send_error ? "send-error" : "no-reply") + said;
    case TransferEventKind::BlockAccepted:
        return text_member("event", "block-accepted") + block + number_member("reply", e.value) + said;
    case TransferEventKind::Uploaded:
        return text_member("event", "uploaded") + said;
    case TransferEventKind::RestartBegun:
        return text_member("event", "restarting") + said;
    case TransferEventKind::Confirmed:
        return text_member("event", "confirmed") + text_member("version", version_text(e.version)) + said;
    case TransferEventKind::BlockUnanswered:
        return text_member("event", e.retry ? "try-failed" : "failed") +
               text_member("reason", e.send_error ? "not-sent" : "no-reply") + block + attempt + said;
    case TransferEventKind::BlockRejected:
        return text_member("event", e.retry ? "try-failed" : "failed") + text_member("reason", "rejected") + block +
               number_member("reply", e.value) + said;
    case TransferEventKind::LastBlockUnacknowledged:
        return text_member("event", "last-block-unacknowledged") + block +
               member("reply", e.value < 0 ? "null" : std::to_string(e.value)) + said;
    case TransferEventKind::LastAckLost:
        return text_member("event", "last-ack-lost") + said;
    case TransferEventKind::RetryWaiting:
        return text_member("event", "retry-waiting") + number_member("try", e.attempt) +
               number_member("tries", e.limit) + number_member("seconds", e.value) + said;
    case TransferEventKind::Retrying:
        return text_member("event", "retrying") + number_member("try", e.attempt) + number_member("tries", e.limit) +
               said;
    case TransferEventKind::RetryNoAnswer:
        return text_member("event", "failed") + text_member("reason", "no-answer-to-retry") +
               number_member("seconds", e.value) + said;
    case TransferEventKind::FoundByMac:
        return text_member("event", "found-by-mac") + text_member("new_address", address_text(e.moved_to)) + said;
    case TransferEventKind::NodeSays:
        return text_member("event", "node-report") + text_member("report", safe_text(e.text, std::strlen(e.text))) +
               said;
    case TransferEventKind::LinkDown:
        return text_member("event", e.retry ? "try-failed" : "failed") + text_member("reason", "link-down") + block +
               number_member("seconds", e.value) + said;
    case TransferEventKind::Conflict:
        return text_member("event", "not-started") + text_member("reason", "address-conflict") + said;
    case TransferEventKind::BlockUnreadable:
        return text_member("event", "failed") + text_member("reason", "unreadable") + block + said;
    case TransferEventKind::WrongVersion:
        return text_member("event", "failed") + text_member("reason", "wrong-version") +
               text_member("version", version_text(e.version)) + text_member("expected", version_text(e.expected)) + said;
    case TransferEventKind::NoAnswer:
        return text_member("event", "failed") + text_member("reason", "no-answer") + number_member("seconds", e.value) +
               said;
    case TransferEventKind::NotNeeded:
        return text_member("event", "not-started") + text_member("reason", "not-needed") + said;
    case TransferEventKind::Stopped:
        return text_member("event", "not-started") + text_member("reason", "stopped") + said;
    case TransferEventKind::HeldBack:
        return text_member("event", "not-started") + text_member("reason", "failure-limit") +
               number_member("failures", e.value) + number_member("limit", e.limit) + said;
    case TransferEventKind::HeldByTestGroup:
        return text_member("event", "not-started") + text_member("reason", "test-group-failed") +
               number_member("failures", e.value) + number_member("group", e.limit) + said;
    case TransferEventKind::SendFailed:
    case TransferEventKind::ReceiveError:
    case TransferEventKind::BadProtocol:
        break;  // messages: error objects
    }
    return "";
}

void report_transfer_event(const TransferEvent &e)
{
    const EventTexts texts = event_texts(e);
    const std::string address = address_text(e.fixture) + " ";
    const std::string members = event_members(e, texts.line);
    if (form.json && !members.empty()) {
        const uint64_t time_us = e.at_us > form.start_us ? e.at_us - form.start_us : 0;
        write_json(text_member("type", "event") + number_member("time_us", static_cast<long long>(time_us)) +
                   text_member("address", address_text(e.fixture)) + members);
    } else if (!form.json && !form.event_lines && !texts.marks.empty()) {
        std::fputs(texts.marks.c_str(), stdout);
        std::fflush(stdout);  // the front end follows the marks as they come
    } else if (!form.json && form.event_lines && !texts.line.empty()) {
        std::printf("%s%s\n", address.c_str(), texts.line.c_str());
        std::fflush(stdout);
    }
    if (form.event_lines && !texts.line_error.empty())
        write_errors(address + texts.line_error + "\n", e.fixture);
    else if (!form.event_lines)
        write_errors(texts.marks_error, e.fixture);
}

// The values of a summary line, as the report and the CSV file show them.
struct SummaryTexts {
    std::string address, before, after, seconds;
};

// What a summary line adds where it applies, as " key=value" items.
static std::string summary_notes(const SummaryRow &row)
{
    std::string notes;
    if (row.tries)
        notes += text_of(" tries=%u", row.tries);
    if (row.last_ack_lost)
        notes += " last-ack=lost";
    if (row.moved_to)
        notes += " moved-to=" + address_text(row.moved_to);
    if (!row.conflict.empty())
        notes += " conflict=\"" + row.conflict + "\"";
    if (!row.image.empty())
        notes += " image=" + row.image;
    if (!row.node_word.empty())
        notes += " fixture-says=\"" + safe_text(row.node_word.c_str(), row.node_word.size()) + "\"";
    return notes;
}

static std::string summary_json_notes(const SummaryRow &row)
{
    std::string notes;
    if (row.tries)
        notes += number_member("tries", row.tries);
    if (row.last_ack_lost)
        notes += member("last_ack_lost", "true");
    if (row.moved_to)
        notes += text_member("moved_to", address_text(row.moved_to));
    if (!row.conflict.empty())
        notes += text_member("conflict", row.conflict);
    if (!row.image.empty())
        notes += text_member("image", row.image);
    if (!row.node_word.empty())
        notes += text_member("fixture_says", safe_text(row.node_word.c_str(), row.node_word.size()));
    return notes;
}

static SummaryTexts summary_texts(const SummaryRow &row)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%" PRIu64 ".%" PRIu64, (row.microseconds + 50000) / 1000000,
                  (row.microseconds + 50000) / 100000 % 10);
    return {address_text(row.address), row.before_known ? version_text(row.before) : "-",
            row.after_known ? version_text(row.after) : "-", seconds};
}

void report_summary(const std::vector<SummaryRow> &rows, bool always)
{
    for (const SummaryRow &row : rows) {
        const SummaryTexts text = summary_texts(row);
        form.summary.push_back(json_object(
            text_member("address", text.address) + text_member("result", row.result) +
            member("before", row.before_known ? json_string(text.before) : "null") +
            member("after", row.after_known ? json_string(text.after) : "null") + member("seconds", text.seconds) +
            number_member("retries", row.retries) + summary_json_notes(row)));
    }
    if (form.json || !(form.event_lines || always))
        return;
    std::fputs("# Summary\n", stdout);
    for (const SummaryRow &row : rows) {
        const SummaryTexts text = summary_texts(row);
        std::printf("    %s result=%s before=%s after=%s seconds=%s retries=%u%s\n", text.address.c_str(), row.result,
                    text.before.c_str(), text.after.c_str(), text.seconds.c_str(), row.retries,
                    summary_notes(row).c_str());
    }
    std::fflush(stdout);
}

bool write_summary_csv_header(FILE *file, bool image_column)
{
    return std::fputs(image_column ? "address,result,before,after,seconds,retries,image\n"
                                   : "address,result,before,after,seconds,retries\n",
                      file) >= 0 &&
           std::fflush(file) == 0;
}

// A file name as a CSV field: quoted when it holds a comma or a quote.
static std::string csv_field(const std::string &text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

bool write_summary_csv(FILE *file, const std::vector<SummaryRow> &rows, bool image_column)
{
    bool ok = true;
    for (const SummaryRow &row : rows) {
        const SummaryTexts text = summary_texts(row);
        ok = std::fprintf(file, "%s,%s,%s,%s,%s,%u%s\n", text.address.c_str(), row.result, text.before.c_str(),
                          text.after.c_str(), text.seconds.c_str(), row.retries,
                          image_column ? ("," + csv_field(row.image)).c_str() : "") > 0 && ok;
    }
    return std::fflush(file) == 0 && ok;
}
