#include "report.h"

#include <cinttypes>
#include <cstdio>

#include "alf.h"
#include "packets.h"

#ifndef LUMILOAD_PLATFORM_LABEL
#define LUMILOAD_PLATFORM_LABEL ""
#endif

static const char SEPARATOR[] = "########################################\n";

// Texts that come from outside (image names, fixture names) must not add or
// break report lines, which the front end parses: control bytes become "?".
static void print_text_field(const char *text, size_t max_length)
{
    for (size_t i = 0; i < max_length && text[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::fputc(c < 0x20 || c == 0x7F ? '?' : c, stdout);
    }
}

static void print_address(uint32_t address)
{
    const uint8_t *b = reinterpret_cast<const uint8_t *>(&address);
    std::printf("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

static void print_version(uint8_t high, uint8_t low)
{
    std::printf("%d.%d.%d\n", high, low / 10, low % 10);
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

void report_alf_header(const AlfHeader &header)
{
    std::fputs("    name=", stdout);
    print_text_field(header.name.c_str(), header.name.size());
    std::fputs("\n    version=", stdout);
    print_version(static_cast<uint8_t>(header.version >> 8), static_cast<uint8_t>(header.version));
    std::printf("    data_checksum=0x%04x\n", header.data_checksum);
    std::printf("    data_length=%" PRIu32 "W\n", header.data_length);
    std::fputs("    oemCodes=< ", stdout);
    for (uint16_t code : header.oemCodes)
        std::printf("0x%04x ", code);
    std::fputs(">\n", stdout);
    std::printf("    blockCount=%" PRIu32 "\n", alf_block_count(header.data_length));
}

void report_alf_open_failed(const char *path) { std::fprintf(stderr, "Error: failed to open ALF file at %s\n", path); }
void report_alf_header_read_failed() { std::fputs("Error: Failed to read ALF header data\n", stderr); }

void report_alf_length_mismatch(int64_t expected, int64_t actual)
{
    std::fprintf(stderr, "Error: ALF file length does not agree with header (expected=%" PRId64 "B actual=%" PRId64 "B)\n",
                 expected, actual);
}

void report_alf_seek_failed() { std::fputs("Error: failed to seek past header\n", stderr); }
void report_alf_read_failed() { std::fputs("Error: fread failed!\n", stderr); }

void report_alf_checksum_invalid(uint16_t expected, uint16_t actual)
{
    std::fprintf(stderr, "Error: data checksum is invalid (expected=0x%04x actual=0x%04x)\n", expected, actual);
}

void report_winsock_failed() { std::fputs("ERROR: winsock2 initialisation failed\n", stderr); }
void report_getifaddrs_failed() { std::perror("getifaddrs"); }
void report_no_matching_interface() { std::fputs("Error: Unable to find matching network interface\n", stderr); }
void report_socket_create_failed() { std::fputs("Error: Failed to create UDP socket.\n", stderr); }
void report_socket_bind_failed() { std::perror("Error: Failed to bind UDP socket"); }
void report_send_failed(int error) { std::fprintf(stderr, "Failed to send UDP packet. errno=%d\n", error); }

void report_fixture(const uint8_t *reply)
{
    std::fputs("Fixture detected:\n    ip=", stdout);
    print_address(reply_ip_address(reply));
    const uint8_t *mac = reply + REPLY_MAC_OFFSET;
    std::printf("\n    mac=%02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    std::printf("    estaMan=0x%04x\n", reply_esta_code(reply));
    std::printf("    oemCode=0x%04x\n", reply_oem_code(reply));
    std::fputs("    version=", stdout);
    print_version(reply[REPLY_VERS_HI_OFFSET], reply[REPLY_VERS_LO_OFFSET]);
    std::fputs("    portName=", stdout);
    print_text_field(reinterpret_cast<const char *>(reply + REPLY_SHORT_NAME_OFFSET), REPLY_SHORT_NAME_SIZE - 1);
    std::fputs("\n    longName=", stdout);
    print_text_field(reinterpret_cast<const char *>(reply + REPLY_LONG_NAME_OFFSET), REPLY_LONG_NAME_SIZE - 1);
    std::fputs("\n", stdout);
}

void report_upgrade_status(UpgradeStatus status)
{
    switch (status) {
    case UpgradeStatus::Incompatible:
        std::fputs("    upgradeStatus=incompatible\n", stdout);
        break;
    case UpgradeStatus::UpgradeRequired:
        std::fputs("    upgradeStatus=upgrade-required\n", stdout);
        break;
    case UpgradeStatus::UpToDate:
        std::fputs("    upgradeStatus=up-to-date\n", stdout);
        break;
    }
}

void report_discovery_end() { std::fputs("\n", stdout); }
void report_broadcast_failed() { std::fputs("Error: failed to set SO_BROADCAST on socket\n", stderr); }
void report_transmit_failure() { std::fputs("    Error: Transmit failure.\n", stderr); }
void report_timeout_set_failed() { std::fputs("Error: failed to set socket receive timeout\n", stderr); }
void report_poll_rx_timeout_failed() { std::fputs("    Error: Failed to set rx timeout\n", stderr); }
void report_run_poll_failed() { std::fputs("Error: run_poll failed\n", stderr); }

void report_fixture_count(size_t count) { std::printf("%zu fixtures to update\n", count); }
void report_no_fixture() { std::fputs("Error: no fixture to update.\n", stderr); }

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
void report_upload_failed() { std::fputs("Error: Firmware upload failed.\n", stderr); }
void report_upload_rx_timeout_failed() { std::fputs("    Failed to set rx timeout\n", stderr); }
void report_seek_start_failed() { std::fputs("    Error: failed to seek to beginning of file\n", stderr); }
void report_block_read_failed() { std::fputs("    Error: failed to read data block from ALF file\n", stderr); }
void report_receive_error(int error) { std::fprintf(stderr, "\n[WSA ERROR %d]\n", error); }
void report_bad_protocol_version() { std::fputs("    Reply has unexpected artnet protocol version\n", stderr); }
void report_unexpected_reply_type(unsigned type) { std::fprintf(stderr, "    Error: unexpected reply type=%u\n", type); }
