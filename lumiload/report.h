// Every line lumiload prints. Report lines go to standard output, error
// messages to standard error; nothing else in the program formats output.
// The report has three forms, chosen once per run: the sequential report
// (a progress line per upload), the event lines of a parallel run, and
// JSON Lines (one object per line on standard output instead of either
// text; standard error keeps its lines, and each is also an error object).
// The callers hand over plain values and events (events.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "events.h"
#include "firewall.h"

struct PollReply;

// The form of the run's report, before its first line; `start_us` is the
// run's start on the socket's clock, from which JSON times count. Without
// this call the report is the sequential one.
void report_begin(bool event_lines, bool json, uint64_t start_us);
// The run's end with its exit status (JSON: the final object).
void report_end(int status);

// Run.
void report_banner();
void report_help();
void report_test_run_mode();
void report_no_alf_file();
void report_separator();

// ALF image.
void report_alf_opened(const char *path);
void report_alf_header(const std::string &name, uint16_t version, uint16_t data_checksum, uint32_t data_length,
                       const std::vector<uint16_t> &oem_codes, uint32_t block_count);
void report_alf_open_failed(const char *path);
void report_alf_header_read_failed();
void report_alf_length_mismatch(int64_t expected, int64_t actual);
void report_alf_seek_failed();
void report_alf_read_failed();
void report_alf_checksum_invalid(uint16_t expected, uint16_t actual);

// Error messages: "Error: " and the text, or, for a step inside a block,
// "    Error: " and the text; printf's formatting.
__attribute__((format(printf, 1, 2))) void report_error(const char *format, ...);
__attribute__((format(printf, 1, 2))) void report_step_error(const char *format, ...);
// The messages of older wording.
void report_winsock_failed();
void report_getifaddrs_failed();  // with the C library's text for errno
// `reason`: the system's text for the failure; nullptr for the C library's
// text for errno.
void report_socket_bind_failed(const char *reason = nullptr);
void report_port_owner(const char *program, unsigned long pid);  // after the bind failure
void report_send_failed(int error);
void report_multiple_fixtures();

// Discovery: where it polls from and to, and each fixture found, with the
// image's verdict for it ("incompatible", "upgrade-required", "up-to-date";
// nullptr without an image).
void report_interface(uint32_t source, uint32_t netmask, uint32_t destination);
void report_fixture(const PollReply &fixture, const char *status = nullptr);
void report_discovery_end();
// Devices with these MACs answer with one address: no upload goes there.
void report_address_conflict(uint32_t address, const std::vector<std::string> &macs);

// Firmware library (-l): the images that can be used, after each file's
// own report, and how many files were left out.
struct LibraryFileLine {
    std::string file, name;
    uint16_t version = 0;
    std::vector<uint16_t> oem_codes;
    uint32_t blocks = 0;
};
void report_library(const std::string &folder, const std::vector<LibraryFileLine> &images, size_t left_out);

// The plan of a library run, before any upload: per fixture what it gets
// and why. `action`: "update", "current", "downgrade", "no-image" or
// "conflict".
struct PlanLine {
    uint32_t address = 0;
    std::string name;           // the fixture's short name
    uint16_t version = 0;       // as discovery heard it
    std::string image;          // the file chosen; "" for none
    uint16_t image_version = 0;
    const char *action = "";
    std::string why;            // for no-image and conflict, and a current fixture that is newer
    bool image_ambiguous = false;  // a conflict of two images, not of two devices
};
void report_library_plan(const std::vector<PlanLine> &plan);

// -L: the fixture's indicators flash (`on`) or are normal again; `answer`
// is its ArtPollReply, nullptr when it did not answer.
void report_locate(uint32_t address, bool on, const PollReply *answer);

// Network check (-N): the interfaces, the one a run would choose, what
// answered on each, and every problem with its fix ("Problem: ... Fix:
// ..."), then how many problems there were.
struct CheckInterface {
    std::string name;
    uint32_t address = 0, netmask = 0, broadcast = 0;  // network byte order
    bool up = false, carrier = false, loopback = false;
    bool artnet = false;  // up, broadcast-capable, not loopback: a run may use it
};
void report_check_interfaces(const std::vector<CheckInterface> &interfaces);
void report_check_choice(const CheckInterface *chosen, uint32_t named);  // chosen: nullptr for none
void report_check_port_taken(const CheckInterface &at);
void report_check_answers(const CheckInterface &at, const std::vector<PollReply> &answers);
void report_check_nobody(const CheckInterface &at);
void report_check_outside(const CheckInterface &at, const PollReply &fixture, const CheckInterface *home);
void report_check_swapped_maker(const PollReply &fixture);
void report_check_conflict(const std::vector<const PollReply *> &devices);
void report_check_firewall(const FirewallCheck &firewall);
void report_check_end(unsigned problems);

// -u @file: the fixtures a summary file names as not updated.
void report_resume(const std::string &path, size_t count);

// Update stage: the fixtures to update, in their order; one left alone by
// -t; the next of a sequential run; every event of the transfers (a
// TransferSink); the summary of the fixtures of the run.
void report_plan(const std::vector<uint32_t> &addresses);
void report_skipped_fixture(uint32_t address);
void report_uploading_to(uint32_t address);
void report_transfer_event(const TransferEvent &event);

// One fixture's line of the summary of an update run.
struct SummaryRow {
    uint32_t address = 0;
    const char *result = "";      // "confirmed", "uploaded", "failed" or "not-started"
    bool before_known = false;    // false for a fixture that never answered
    uint16_t before = 0, after = 0;
    bool after_known = false;     // "-" otherwise
    uint64_t microseconds = 0;
    unsigned retries = 0;         // failed attempts over all blocks
    // Shown only where they apply:
    unsigned tries = 0;           // -r: transfers begun
    bool last_ack_lost = false;   // confirmed although the last block's acknowledgement went missing
    uint32_t moved_to = 0;        // found again at this address by its MAC
    std::string node_word;        // what the fixture said of itself when it failed
    std::string conflict;         // the MACs that answer at its address
    std::string image;            // -l: the file of the image it got
};
// "# Summary" and its lines, in a parallel run, or with `always` (-r) in
// the sequential report too.
void report_summary(const std::vector<SummaryRow> &rows, bool always = false);
// The CSV form; false when it could not be written. With -l it has a
// column more: the image of each fixture.
bool write_summary_csv_header(FILE *file, bool image_column = false);
bool write_summary_csv(FILE *file, const std::vector<SummaryRow> &rows, bool image_column = false);
