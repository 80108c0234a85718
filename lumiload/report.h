// Every line lumiload prints. Report lines go to standard output, error
// messages to standard error; nothing else in the program formats output.
// The callers hand over plain values; this unit depends on no other.
#pragma once

#include <cstddef>
#include <cstdint>
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
