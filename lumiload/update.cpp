#include "update.h"

#include <algorithm>

#include "report.h"
#include "socket.h"
#include "transfer.h"
#include "upload.h"

// The fixtures of the run: those that need the image, in discovery's
// order (only those named with -u, when it is given), then those named
// with -u that are not among them.
struct RunFixtures {
    std::vector<uint32_t> addresses;
    std::vector<uint16_t> versions;   // as reported to the discovery
    size_t found = 0;                 // the first `found` need the image; the rest were only named
    std::vector<Transfer> transfers;  // one per fixture needing the image; Idle until started
    std::vector<bool> not_started;    // per fixture: left out, by -k or because it was not found
};

static RunFixtures choose_fixtures(const RunSettings &settings, const std::vector<FixtureRecord> &fixtures)
{
    RunFixtures run;
    for (const FixtureRecord &record : fixtures) {
        const uint32_t address = reply_ip_address(record.bytes);
        const auto &only = settings.only;
        if (only.empty() || std::find(only.begin(), only.end(), address) != only.end()) {
            run.addresses.push_back(address);
            run.versions.push_back(
                static_cast<uint16_t>(record.bytes[REPLY_VERS_HI_OFFSET] << 8 | record.bytes[REPLY_VERS_LO_OFFSET]));
        }
    }
    run.found = run.addresses.size();
    for (uint32_t address : settings.only) {
        if (std::find(run.addresses.begin(), run.addresses.end(), address) == run.addresses.end()) {
            run.addresses.push_back(address);
            run.versions.push_back(0);
        }
    }
    run.transfers.resize(run.found);
    run.not_started.assign(run.addresses.size(), false);
    for (size_t i = run.found; i < run.addresses.size(); ++i)
        run.not_started[i] = true;
    return run;
}

static bool succeeded(const Transfer &t, bool confirm)
{
    return t.result == (confirm ? TransferResult::Confirmed : TransferResult::Uploaded);
}

// One fixture after another, each upload with its own socket, each check
// after a restart too; with -k the fixtures after the K-th failure are
// named and left alone.
static void update_one_by_one(const RunSettings &settings, const AlfHeader &header, FILE *alf_file, uint32_t source,
                              uint32_t broadcast, RunFixtures *run)
{
    unsigned failures = 0;
    for (size_t i = 0; i < run->found; ++i) {
        const uint32_t address = run->addresses[i];
        if (settings.failure_limit && failures >= settings.failure_limit) {
            report_skipped_after_failures(address, settings.failure_limit);
            run->not_started[i] = true;
            continue;
        }
        report_uploading_to(address);
        Transfer *t = &run->transfers[i];
        if (upload_firmware(alf_file, header, source, address, t) == 0 && settings.confirm) {
            Transfer check;
            confirm_restart(source, broadcast, address, header.version, settings.restart_wait, &check);
            t->result = check.result;
            t->ended_us = check.ended_us;
            t->version_reported = check.version_reported;
            t->reported_version = check.reported_version;
        }
        failures += !succeeded(*t, settings.confirm);
    }
}

// Starts transfers while fewer than -p are in flight, and none once -k
// fixtures have failed, and turns the loop until every fixture is done.
static void drive_in_parallel(const RunSettings &settings, const AlfHeader &header, FILE *alf_file,
                              ArtSocket *socket, RunFixtures *run)
{
    const size_t count = run->found;
    const TransferMode mode = {true, settings.confirm, settings.restart_wait};
    std::vector<bool> counted(count, false);
    unsigned failures = 0;
    size_t next = 0;  // the next fixture to start
    for (;;) {
        size_t in_flight = 0;
        for (size_t i = 0; i < next; ++i) {
            const Transfer &t = run->transfers[i];
            if (!counted[i] && t.phase == TransferPhase::Done) {
                counted[i] = true;
                failures += !succeeded(t, settings.confirm);
            }
            in_flight += transfer_in_flight(t);
        }
        for (; settings.failure_limit && failures >= settings.failure_limit && next < count; ++next) {
            report_not_started(run->addresses[next], failures, settings.failure_limit);
            run->not_started[next] = true;
        }
        for (; next < count && in_flight < settings.parallel; ++next) {
            start_transfer(&run->transfers[next], alf_file, header, run->addresses[next], clock_us(), mode);
            in_flight += transfer_in_flight(run->transfers[next]);
        }
        if (!step_transfers(socket, alf_file, run->transfers.data(), count) && next == count)
            break;
    }
}

static void update_in_parallel(const RunSettings &settings, const AlfHeader &header, FILE *alf_file, uint32_t source,
                               uint32_t broadcast, RunFixtures *run)
{
    ArtSocket socket = open_artnet_socket(source);
    if (!artnet_socket_is_open(socket))
        goto done;  // every fixture failed; the socket step said why
    if (settings.confirm)
        receive_broadcasts_too(&socket, source, broadcast);  // some fixtures broadcast their poll replies
    if (std::fseek(alf_file, 0, SEEK_SET) != 0 || std::ferror(alf_file)) {
        report_seek_start_failed();
        goto done;
    }
    drive_in_parallel(settings, header, alf_file, &socket, run);

done:
    close_artnet_socket(&socket);  // also when it never opened
}

static std::vector<SummaryRow> summary_rows(const RunFixtures &run, const AlfHeader &header, bool confirm)
{
    std::vector<SummaryRow> rows;
    for (size_t i = 0; i < run.addresses.size(); ++i) {
        SummaryRow row = {run.addresses[i], "not-started", i < run.found, run.versions[i], 0, false, 0, 0};
        if (!run.not_started[i]) {
            const Transfer &t = run.transfers[i];
            row.result = succeeded(t, confirm) ? (confirm ? "confirmed" : "uploaded") : "failed";
            row.after_known = t.version_reported || t.result == TransferResult::Uploaded;
            row.after = t.version_reported ? t.reported_version : header.version;
            row.microseconds = t.started_us && t.ended_us > t.started_us ? t.ended_us - t.started_us : 0;
            row.retries = t.retries;
        }
        rows.push_back(row);
    }
    return rows;
}

int run_update_stage(const RunSettings &settings, const AlfHeader &header, FILE *alf_file, uint32_t source,
                     uint32_t broadcast, const std::vector<FixtureRecord> &fixtures, FILE *summary)
{
    RunFixtures run = choose_fixtures(settings, fixtures);
    const bool parallel = settings.parallel > 0;
    if (run.found == 0) {
        report_no_fixture();
        return 1;
    }
    report_fixture_count(run.found);
    if (run.found > 1 && !settings.multi_fixture && !parallel) {
        report_multiple_fixtures();
        return 1;
    }
    int status = run.found < run.addresses.size() ? 1 : 0;
    for (size_t i = run.found; i < run.addresses.size(); ++i)
        report_not_selected(run.addresses[i], parallel);
    if (settings.test_run) {
        for (size_t i = 0; i < run.found; ++i)
            report_skipped_fixture(run.addresses[i]);
        return status;
    }
    if (parallel)
        update_in_parallel(settings, header, alf_file, source, broadcast, &run);
    else
        update_one_by_one(settings, header, alf_file, source, broadcast, &run);

    for (size_t i = 0; i < run.found; ++i) {
        if (run.not_started[i] || !succeeded(run.transfers[i], settings.confirm))
            status = 1;
    }
    const std::vector<SummaryRow> rows = summary_rows(run, header, settings.confirm);
    if (parallel)
        report_summary(rows);
    if (summary && !write_summary_csv(summary, rows)) {
        report_summary_write_failed(settings.summary_path.c_str());
        status = 1;
    }
    return status;
}
