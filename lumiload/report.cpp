#include "report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "firmware_version.h"
#include "packets.h"

#ifndef LUMILOAD_PLATFORM_LABEL
#define LUMILOAD_PLATFORM_LABEL ""
#endif

static const char SEPARATOR[] = "########################################\n";

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

// The two forms of an error message: "Error: " for a step of the run and
// "    Error: " for a step inside a block, then the text and a line feed,
// written to standard error in one piece. The few messages that keep an
// older wording (another prefix, none, or perror's ": " and system text)
// are each written by a call of their own, so they stand out below.
static void print_error(const char *prefix, const char *format, va_list args)
{
    std::fprintf(stderr, "%s%s\n", prefix, format_text(format, args).c_str());
}

__attribute__((format(printf, 1, 2))) static void error_line(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    print_error("Error: ", format, args);
    va_end(args);
}

__attribute__((format(printf, 1, 2))) static void step_error_line(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    print_error("    Error: ", format, args);
    va_end(args);
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

// An event of a parallel run: the fixture's address, a blank, the text; on
// standard output, flushed, since the front end follows the events live.
__attribute__((format(printf, 2, 3))) static void event_line(uint32_t address, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::printf("%s %s\n", address_text(address).c_str(), format_text(format, args).c_str());
    va_end(args);
    std::fflush(stdout);
}

// A message of a parallel run about one fixture, on standard error.
__attribute__((format(printf, 2, 3))) static void fixture_error_line(uint32_t address, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "%s %s\n", address_text(address).c_str(), format_text(format, args).c_str());
    va_end(args);
}

// A fixture's verdict: a failure is an event of a parallel run, or an
// error message of the sequential report.
__attribute__((format(printf, 3, 4))) static void verdict_line(uint32_t address, bool events, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    if (events)
        event_line(address, "failed: %s", text.c_str());
    else
        error_line("%s", text.c_str());
}

void report_banner()
{
    std::fputs("# Orvane Art-Net Fixture Firmware Update Utility (version 0.6", stdout);
    std::fputs(LUMILOAD_PLATFORM_LABEL, stdout);
    std::fputs(")\n", stdout);
}

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
               "    Restart wait:          -w [60]        (seconds a fixture may take to come back, with -c)\n",
               stdout);
}

void report_test_run_mode() { std::fputs("# TEST RUN MODE\n", stdout); }

void report_no_alf_file()
{
    std::fputs("# No ALF file supplied with -f, performing fixture poll without update.\n", stdout);
}

void report_separator() { std::fputs(SEPARATOR, stdout); }

void report_alf_opened(const char *path) { std::printf("Opened ALF file %s: \n", path); }

void report_alf_header(const std::string &name, uint16_t version, uint16_t data_checksum, uint32_t data_length,
                       const std::vector<uint16_t> &oem_codes, uint32_t block_count)
{
    std::fputs("    name=", stdout);
    print_text_field(name.c_str(), name.size());
    std::fputs("\n    version=", stdout);
    print_version(version);
    std::printf("    data_checksum=0x%04x\n", data_checksum);
    std::printf("    data_length=%" PRIu32 "W\n", data_length);
    std::fputs("    oemCodes=< ", stdout);
    for (uint16_t code : oem_codes)
        std::printf("0x%04x ", code);
    std::fputs(">\n", stdout);
    std::printf("    blockCount=%" PRIu32 "\n", block_count);
}

void report_alf_open_failed(const char *path) { error_line("failed to open ALF file at %s", path); }
void report_alf_header_read_failed() { error_line("Failed to read ALF header data"); }

void report_alf_length_mismatch(int64_t expected, int64_t actual)
{
    error_line("ALF file length does not agree with header (expected=%" PRId64 "B actual=%" PRId64 "B)", expected,
               actual);
}

void report_alf_seek_failed() { error_line("failed to seek past header"); }
void report_alf_read_failed() { error_line("fread failed!"); }

void report_alf_checksum_invalid(uint16_t expected, uint16_t actual)
{
    error_line("data checksum is invalid (expected=0x%04x actual=0x%04x)", expected, actual);
}

void report_winsock_failed() { std::fputs("ERROR: winsock2 initialisation failed\n", stderr); }
void report_getifaddrs_failed() { std::perror("getifaddrs"); }
void report_no_matching_interface() { error_line("Unable to find matching network interface"); }
void report_socket_create_failed() { error_line("Failed to create UDP socket."); }
void report_socket_bind_failed(const char *reason)
{
    if (reason)
        std::fprintf(stderr, "Error: Failed to bind UDP socket: %s\n", reason);
    else
        std::perror("Error: Failed to bind UDP socket");
}

// An indented line of its own after the bind error; any process may give
// itself any name.
void report_port_owner(const char *program, unsigned long pid)
{
    std::fprintf(stderr, "    Port 6454 is in use by %s (pid %lu).\n", safe_text(program, std::strlen(program)).c_str(),
                 pid);
}

void report_send_failed(int error) { std::fprintf(stderr, "Failed to send UDP packet. errno=%d\n", error); }

void report_fixture(const PollReply &fixture)
{
    std::fputs("Fixture detected:\n    ip=", stdout);
    print_address(fixture.ip);
    const uint8_t *mac = fixture.mac;
    std::printf("\n    mac=%02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    std::printf("    estaMan=0x%04x\n", fixture.esta_code);
    std::printf("    oemCode=0x%04x\n", fixture.oem_code);
    std::fputs("    version=", stdout);
    print_version(fixture.version);
    std::fputs("    portName=", stdout);
    print_text_field(fixture.short_name, sizeof fixture.short_name);
    std::fputs("\n    longName=", stdout);
    print_text_field(fixture.long_name, sizeof fixture.long_name);
    std::fputs("\n", stdout);
}

void report_upgrade_status(const char *status) { std::printf("    upgradeStatus=%s\n", status); }

void report_discovery_end() { std::fputs("\n", stdout); }
void report_broadcast_failed() { error_line("failed to set SO_BROADCAST on socket"); }
void report_transmit_failure() { step_error_line("Transmit failure."); }
void report_run_poll_failed() { error_line("run_poll failed"); }

void report_fixture_count(size_t count) { std::printf("%zu fixtures to update\n", count); }
void report_no_fixture() { error_line("no fixture to update."); }

void report_multiple_fixtures()
{
    std::fputs("Error: multiple fixtures detected.\n"
               "# Connect only one, or specify which to use with -d, or use -m to allow multiple upload.\n",
               stderr);
}

void report_skipped_fixture(uint32_t address)
{
    std::fputs(SEPARATOR, stdout);
    std::fputs("Skipped update of fixture at ", stdout);
    print_address(address);
    std::fputs(" due to -t flag\n", stdout);
}

void report_uploading_to(uint32_t address)
{
    std::fputs(SEPARATOR, stdout);
    std::fputs("Uploading to fixture at ", stdout);
    print_address(address);
    std::fputs(":\n", stdout);
}

void report_upload_start(uint32_t block_count)
{
    std::printf("    blockCount=%" PRIu32 "\n    progress=", block_count);
}

void report_progress_mark(char mark)
{
    std::fputc(mark, stdout);
    std::fflush(stdout);  // the front end follows the marks as they come
}

void report_line_end() { std::fputs("\n", stdout); }
void report_upload_success() { std::fputs("# Firmware uploaded successfully\n", stdout); }
void report_upload_failed() { error_line("Firmware upload failed."); }
void report_seek_start_failed() { step_error_line("failed to seek to beginning of file"); }
void report_block_read_failed() { step_error_line("failed to read data block from ALF file"); }
void report_receive_error(int error) { std::fprintf(stderr, "\n[WSA ERROR %d]\n", error); }
void report_bad_protocol_version() { std::fputs("    Reply has unexpected artnet protocol version\n", stderr); }
void report_unexpected_reply_type(unsigned type) { step_error_line("unexpected reply type=%u", type); }

void report_bad_option_value(const char *option) { error_line("invalid option value: %s", option); }
void report_summary_open_failed(const char *path) { error_line("failed to open summary file at %s", path); }
void report_summary_write_failed(const char *path) { error_line("failed to write summary file at %s", path); }

void report_skipped_after_failures(uint32_t address, unsigned limit)
{
    std::fputs(SEPARATOR, stdout);
    std::printf("Skipped update of fixture at %s due to -k %u\n", address_text(address).c_str(), limit);
}

void report_transfer_started(uint32_t address, uint32_t block_count)
{
    event_line(address, "upload started, blockCount=%" PRIu32, block_count);
}

void report_block_accepted(uint32_t address, uint32_t block, uint32_t block_count)
{
    event_line(address, "block %" PRIu32 " of %" PRIu32 " accepted", block, block_count);
}

void report_attempt_failed(uint32_t address, uint32_t block, uint32_t block_count, int attempt, char mark)
{
    event_line(address, "block %" PRIu32 " of %" PRIu32 " attempt %d failed: %s", block, block_count, attempt,
               mark == '!' ? "send error" : "no reply");
}

void report_uploaded(uint32_t address) { event_line(address, "uploaded"); }

void report_block_unanswered(uint32_t address, uint32_t block, uint32_t block_count, int attempts, bool none_sent)
{
    if (none_sent)
        event_line(address, "failed: block %" PRIu32 " of %" PRIu32 " could not be sent after %d attempts", block,
                   block_count, attempts);
    else
        event_line(address, "failed: no reply to block %" PRIu32 " of %" PRIu32 " after %d attempts", block,
                   block_count, attempts);
}

void report_block_rejected(uint32_t address, uint32_t block, uint32_t block_count, unsigned type)
{
    event_line(address, "failed: the fixture rejected block %" PRIu32 " of %" PRIu32 " (reply type %u)", block,
               block_count, type);
}

void report_block_unreadable(uint32_t address, uint32_t block, uint32_t block_count)
{
    event_line(address, "failed: block %" PRIu32 " of %" PRIu32 " could not be read from the image file", block,
               block_count);
}

void report_not_started(uint32_t address, unsigned failures, unsigned limit)
{
    event_line(address, "not started: %u fixtures failed (-k %u)", failures, limit);
}

void report_fixture_send_failed(uint32_t address, int error)
{
    fixture_error_line(address, "Failed to send UDP packet. errno=%d", error);
}

void report_fixture_receive_error(uint32_t address, int error) { fixture_error_line(address, "[WSA ERROR %d]", error); }

void report_fixture_bad_protocol_version(uint32_t address)
{
    fixture_error_line(address, "Reply has unexpected artnet protocol version");
}

void report_not_selected(uint32_t address, bool events)
{
    if (events)
        event_line(address, "not started: not among the fixtures that need the image");
    else
        error_line("fixture %s is not among the fixtures that need the image", address_text(address).c_str());
}

void report_restart_wait(uint32_t address, bool events)
{
    if (events)
        event_line(address, "waiting for the fixture to restart");
    else
        std::fputs("# Waiting for the fixture to restart\n", stdout);
    std::fflush(stdout);
}

void report_confirmed(uint32_t address, uint16_t version, bool events)
{
    if (events)
        event_line(address, "confirmed: the fixture reports version %s", version_text(version).c_str());
    else
        std::printf("# Confirmed: the fixture reports version %s\n", version_text(version).c_str());
}

void report_came_back_with(uint32_t address, uint16_t version, uint16_t expected, bool events)
{
    verdict_line(address, events, "the fixture came back with version %s, not %s", version_text(version).c_str(),
                 version_text(expected).c_str());
}

void report_no_answer_after_upload(uint32_t address, unsigned seconds, bool events)
{
    verdict_line(address, events, "the fixture did not answer within %u s after the upload", seconds);
}

// The values of a summary line, as the report and the CSV file show them.
struct SummaryTexts {
    std::string address, before, after, seconds;
};

static SummaryTexts summary_texts(const SummaryRow &row)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%" PRIu64 ".%" PRIu64, (row.microseconds + 50000) / 1000000,
                  (row.microseconds + 50000) / 100000 % 10);
    return {address_text(row.address), row.before_known ? version_text(row.before) : "-",
            row.after_known ? version_text(row.after) : "-", seconds};
}

void report_summary(const std::vector<SummaryRow> &rows)
{
    std::fputs("# Summary\n", stdout);
    for (const SummaryRow &row : rows) {
        const SummaryTexts text = summary_texts(row);
        std::printf("    %s result=%s before=%s after=%s seconds=%s retries=%u\n", text.address.c_str(), row.result,
                    text.before.c_str(), text.after.c_str(), text.seconds.c_str(), row.retries);
    }
    std::fflush(stdout);
}

bool write_summary_csv_header(FILE *file)
{
    return std::fputs("address,result,before,after,seconds,retries\n", file) >= 0 && std::fflush(file) == 0;
}

bool write_summary_csv(FILE *file, const std::vector<SummaryRow> &rows)
{
    bool ok = true;
    for (const SummaryRow &row : rows) {
        const SummaryTexts text = summary_texts(row);
        ok = std::fprintf(file, "%s,%s,%s,%s,%s,%u\n", text.address.c_str(), row.result, text.before.c_str(),
                          text.after.c_str(), text.seconds.c_str(), row.retries) > 0 && ok;
    }
    return std::fflush(file) == 0 && ok;
}
