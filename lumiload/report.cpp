#include "report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "packets.h"

#ifndef LUMILOAD_PLATFORM_LABEL
#define LUMILOAD_PLATFORM_LABEL ""
#endif

static const char SEPARATOR[] = "########################################\n";

// The two forms of an error message: "Error: " for a step of the run and
// "    Error: " for a step inside a block, then the text and a line feed,
// written to standard error in one piece. The few messages that keep an
// older wording (another prefix, none, or perror's ": " and system text)
// are each written by a call of their own, so they stand out below.
static void print_error(const char *prefix, const char *format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::vsnprintf(&text[0], text.size() + 1, format, args);
    std::fprintf(stderr, "%s%s\n", prefix, text.c_str());
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

static void print_address(uint32_t address)
{
    const uint8_t *b = reinterpret_cast<const uint8_t *>(&address);
    std::printf("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

// A version held in two bytes H and L reads H.(L/10).(L%10).
static void print_version(uint16_t version)
{
    const int low = version & 0xFF;
    std::printf("%d.%d.%d\n", version >> 8, low / 10, low % 10);
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
               "    Show help message:     -h\n",
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
