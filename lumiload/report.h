// Every line lumiload prints. Report lines go to standard output, error
// messages to standard error; nothing else in the program formats output.
// The callers hand over plain values; this unit depends on no other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct PollReply;

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

// Network set-up.
void report_winsock_failed();
void report_getifaddrs_failed();
void report_no_matching_interface();
void report_socket_create_failed();
// `reason`: the system's text for the failure; nullptr for the C library's
// text for errno (perror).
void report_socket_bind_failed(const char *reason = nullptr);
void report_port_owner(const char *program, unsigned long pid);  // after the bind failure
void report_send_failed(int error);

// Discovery.
void report_fixture(const PollReply &fixture);
void report_upgrade_status(const char *status);  // "incompatible", "upgrade-required", "up-to-date"
void report_discovery_end();
void report_broadcast_failed();
void report_transmit_failure();
void report_run_poll_failed();

// Update stage.
void report_fixture_count(size_t count);
void report_no_fixture();
void report_multiple_fixtures();
void report_skipped_fixture(uint32_t address);
void report_uploading_to(uint32_t address);

// Upload.
void report_upload_start(uint32_t block_count);
void report_progress_mark(char mark);
void report_line_end();
void report_upload_success();
void report_upload_failed();
void report_seek_start_failed();
void report_block_read_failed();
void report_receive_error(int error);
void report_bad_protocol_version();
void report_unexpected_reply_type(unsigned type);

// Rig updates (-p, -u, -c, -k, -o): the run.
void report_bad_option_value(const char *option);  // "-p 0", as given
void report_summary_open_failed(const char *path);
void report_summary_write_failed(const char *path);
void report_skipped_after_failures(uint32_t address, unsigned limit);  // one after another, -k

// Events of a parallel run: one line each on standard output, beginning
// with the fixture's address, flushed at once. Blocks and attempts count
// from 1. The sequential upload's messages about one fixture (send and
// receive errors, a reply of another protocol version) name it the same
// way on standard error.
void report_transfer_started(uint32_t address, uint32_t block_count);
void report_block_accepted(uint32_t address, uint32_t block, uint32_t block_count);
void report_attempt_failed(uint32_t address, uint32_t block, uint32_t block_count, int attempt, char mark);
void report_uploaded(uint32_t address);
void report_block_unanswered(uint32_t address, uint32_t block, uint32_t block_count, int attempts, bool none_sent);
void report_block_rejected(uint32_t address, uint32_t block, uint32_t block_count, unsigned type);
void report_block_unreadable(uint32_t address, uint32_t block, uint32_t block_count);
void report_not_started(uint32_t address, unsigned failures, unsigned limit);  // -k
void report_fixture_send_failed(uint32_t address, int error);
void report_fixture_receive_error(uint32_t address, int error);
void report_fixture_bad_protocol_version(uint32_t address);

// A fixture named with -u that is not among those that need the image: an
// event of a parallel run (`events`), else an error message.
void report_not_selected(uint32_t address, bool events);

// The check after an upload (-c), as an event of a parallel run (`events`)
// or as the sequential report's remark or error message.
void report_restart_wait(uint32_t address, bool events);
void report_confirmed(uint32_t address, uint16_t version, bool events);
void report_came_back_with(uint32_t address, uint16_t version, uint16_t expected, bool events);
void report_no_answer_after_upload(uint32_t address, unsigned seconds, bool events);

// One fixture's line of the summary of an update run.
struct SummaryRow {
    uint32_t address;
    const char *result;           // "confirmed", "uploaded", "failed" or "not-started"
    bool before_known;            // false for a fixture that never answered
    uint16_t before, after;
    bool after_known;             // "-" otherwise
    uint64_t microseconds;
    unsigned retries;             // failed attempts over all blocks
};
void report_summary(const std::vector<SummaryRow> &rows);  // "# Summary" and its lines
// The CSV form; false when it could not be written.
bool write_summary_csv_header(FILE *file);
bool write_summary_csv(FILE *file, const std::vector<SummaryRow> &rows);
