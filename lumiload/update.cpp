#include "update.h"

#include <algorithm>

#include "report.h"
#include "socket.h"
#include "stop_input.h"
#include "transfer.h"

// One fixture of the run: one that needs the image, in discovery's order
// (only those named with -u, when it is given), or one named with -u that
// is not among them.
struct RunFixture {
    uint32_t address = 0;
    bool found = false;         // among those that need the image
    uint16_t version = 0;       // as reported to the discovery, when found
    bool not_started = false;   // left out, by -k or because it was not found
    std::string conflict;       // the MACs that answer at its address: never started
    FixtureIdentity identity;
    Transfer transfer;          // Idle until started
};

static std::vector<RunFixture> choose_fixtures(const RunSettings &settings, const std::vector<FixtureRecord> &fixtures,
                                              const std::vector<AddressConflict> &conflicts)
{
    std::vector<RunFixture> run;
    const auto &only = settings.only;
    const auto chosen = [&](uint32_t address) {
        return only.empty() || std::find(only.begin(), only.end(), address) != only.end();
    };
    for (const FixtureRecord &record : fixtures) {
        const PollReply reply = decode_poll_reply(record.bytes, sizeof record.bytes);
        if (chosen(reply.ip)) {
            run.emplace_back();
            run.back().address = reply.ip;
            run.back().found = true;
            run.back().version = reply.version;
            std::copy(reply.mac, reply.mac + 6, run.back().identity.mac);
            run.back().identity.dhcp = (reply.status2 & STATUS2_DHCP_CONFIGURED) != 0;
        }
    }
    for (const AddressConflict &conflict : conflicts) {
        if (!conflict.needed || !chosen(conflict.address))
            continue;
        run.emplace_back();
        run.back().address = conflict.address;
        run.back().not_started = true;
        for (const std::string &mac : conflict.macs)
            run.back().conflict += (run.back().conflict.empty() ? "" : " ") + mac;
    }
    for (uint32_t address : only) {
        const auto named = [&](const RunFixture &f) { return f.address == address; };  // found, or in conflict
        if (std::none_of(run.begin(), run.end(), named)) {
            run.emplace_back();
            run.back().address = address;
            run.back().not_started = true;
        }
    }
    return run;
}

static TransferEvent not_started_event(TransferEventKind kind, uint32_t address)
{
    TransferEvent event;
    event.kind = kind;
    event.fixture = address;
    event.at_us = clock_us();
    return event;
}

static TransferMode transfer_mode(const RunSettings &settings, uint32_t broadcast)
{
    TransferMode mode = {report_transfer_event, settings.confirm, settings.restart_wait};
    mode.retries = settings.retries;
    mode.node_timeout_s = settings.node_timeout;
    mode.broadcast = broadcast;
    mode.link_wait_s = settings.link_wait;
    return mode;
}

// Fixtures polled after their restart (-c) or before a retry (-r): some
// broadcast their poll replies, and one whose address came from DHCP is
// polled at the broadcast address too.
static void hear_polled_fixtures(ArtSocket *socket, uint32_t source, uint32_t broadcast)
{
    receive_broadcasts_too(socket, source, broadcast);
    enable_broadcast(socket);
}

// One fixture after another, each with its own socket for its upload and
// the check after its restart; with -k the fixtures after the K-th
// failure, with -S those after the stop line, are named and left alone.
static void update_one_by_one(const RunSettings &settings, const AlfHeader &header, const std::vector<uint8_t> &image, uint32_t source,
                              uint32_t broadcast, std::vector<RunFixture> *run)
{
    const TransferMode mode = transfer_mode(settings, broadcast);
    unsigned failures = 0;
    for (RunFixture &fixture : *run) {
        if (!fixture.found)
            continue;
        if (settings.stop_on_input && stop_requested()) {
            report_transfer_event(not_started_event(TransferEventKind::Stopped, fixture.address));
            fixture.not_started = true;
            continue;
        }
        if (settings.failure_limit && failures >= settings.failure_limit) {
            TransferEvent event = not_started_event(TransferEventKind::HeldBack, fixture.address);
            event.value = static_cast<int>(failures);
            event.limit = settings.failure_limit;
            report_transfer_event(event);
            fixture.not_started = true;
            continue;
        }
        report_uploading_to(fixture.address);
        Transfer *t = &fixture.transfer;
        ArtSocket socket = open_artnet_socket(source);
        // Before the progress line only the failing step's own message is printed.
        if (!artnet_socket_is_open(socket))
            goto done;
        if (settings.confirm || settings.retries)
            hear_polled_fixtures(&socket, source, broadcast);
        start_transfer(t, image, header, fixture.address, clock_us(), mode, fixture.identity);
        run_transfers(&socket, &t, 1);
    done:
        close_artnet_socket(&socket);  // also when it never opened
        failures += !transfer_succeeded(*t);
    }
}

// Starts transfers while fewer than -p are in flight, and none once -k
// fixtures have failed or the run was told to stop (-S), and turns the loop until every fixture is done.
static void drive_in_parallel(const RunSettings &settings, const AlfHeader &header, const std::vector<uint8_t> &image,
                              ArtSocket *socket, uint32_t broadcast, std::vector<RunFixture> *run)
{
    const TransferMode mode = transfer_mode(settings, broadcast);
    std::vector<RunFixture *> queue;  // those found, in their order
    std::vector<Transfer *> transfers;
    for (RunFixture &fixture : *run) {
        if (fixture.found) {
            queue.push_back(&fixture);
            transfers.push_back(&fixture.transfer);
        }
    }
    std::vector<bool> counted(queue.size(), false);
    unsigned failures = 0;
    size_t next = 0;  // the next fixture to start
    for (;;) {
        size_t in_flight = 0;
        for (size_t i = 0; i < next; ++i) {
            const Transfer &t = *transfers[i];
            if (!counted[i] && t.phase == TransferPhase::Done) {
                counted[i] = true;
                failures += !transfer_succeeded(t);
            }
            in_flight += transfer_in_flight(t);
        }
        // Told to stop (-S): those in flight go on to their end, restart
        // waits included; no more start.
        for (; settings.stop_on_input && stop_requested() && next < queue.size(); ++next) {
            report_transfer_event(not_started_event(TransferEventKind::Stopped, queue[next]->address));
            queue[next]->not_started = true;
        }
        for (; settings.failure_limit && failures >= settings.failure_limit && next < queue.size(); ++next) {
            TransferEvent event = not_started_event(TransferEventKind::HeldBack, queue[next]->address);
            event.value = static_cast<int>(failures);
            event.limit = settings.failure_limit;
            report_transfer_event(event);
            queue[next]->not_started = true;
        }
        for (; next < queue.size() && in_flight < settings.parallel; ++next) {
            start_transfer(transfers[next], image, header, queue[next]->address, clock_us(), mode,
                           queue[next]->identity);
            in_flight += transfer_in_flight(*transfers[next]);
        }
        if (!step_transfers(socket, transfers.data(), transfers.size()) && next == queue.size())
            break;
    }
}

static void update_in_parallel(const RunSettings &settings, const AlfHeader &header, const std::vector<uint8_t> &image, uint32_t source,
                               uint32_t broadcast, std::vector<RunFixture> *run)
{
    ArtSocket socket = open_artnet_socket(source);
    if (!artnet_socket_is_open(socket))
        goto done;  // every fixture failed; the socket step said why
    if (settings.confirm || settings.retries)
        hear_polled_fixtures(&socket, source, broadcast);
    drive_in_parallel(settings, header, image, &socket, broadcast, run);

done:
    close_artnet_socket(&socket);  // also when it never opened
}

static bool fixture_succeeded(const RunFixture &fixture)
{
    return !fixture.not_started && transfer_succeeded(fixture.transfer);
}

static std::vector<SummaryRow> summary_rows(const std::vector<RunFixture> &run, const AlfHeader &header,
                                            const RunSettings &settings)
{
    const bool confirm = settings.confirm;
    std::vector<SummaryRow> rows;
    for (const RunFixture &fixture : run) {
        SummaryRow row;
        row.address = fixture.address;
        row.result = "not-started";
        row.before_known = fixture.found;
        row.before = fixture.version;
        row.conflict = fixture.conflict;
        if (!fixture.not_started) {
            const Transfer &t = fixture.transfer;
            row.tries = settings.retries ? t.tries : 0;
            row.last_ack_lost = t.last_unacknowledged && transfer_succeeded(t);
            row.moved_to = t.moved_to;
            row.node_word = t.node_word;
            row.result = fixture_succeeded(fixture) ? (confirm ? "confirmed" : "uploaded") : "failed";
            row.after_known = t.version_reported || t.result == TransferResult::Uploaded;
            row.after = t.version_reported ? t.reported_version : header.version;
            row.microseconds = t.started_us && t.ended_us > t.started_us ? t.ended_us - t.started_us : 0;
            row.retries = t.retries;
        }
        rows.push_back(row);
    }
    return rows;
}

int run_update_stage(const RunSettings &settings, const AlfHeader &header, const std::vector<uint8_t> &image, uint32_t source,
                     uint32_t broadcast, const std::vector<FixtureRecord> &fixtures,
                     const std::vector<AddressConflict> &conflicts, FILE *summary)
{
    std::vector<RunFixture> run = choose_fixtures(settings, fixtures, conflicts);
    std::vector<uint32_t> found;
    for (const RunFixture &fixture : run) {
        if (fixture.found)
            found.push_back(fixture.address);
    }
    const auto report_conflicts = [&run] {
        for (const RunFixture &fixture : run) {
            if (fixture.conflict.empty())
                continue;
            TransferEvent event = not_started_event(TransferEventKind::Conflict, fixture.address);
            event.text = fixture.conflict.c_str();
            report_transfer_event(event);
        }
    };
    if (found.empty()) {
        report_conflicts();
        report_error("no fixture to update.");
        return 1;
    }
    report_plan(found);
    if (found.size() > 1 && !settings.multi_fixture && !settings.parallel) {
        report_multiple_fixtures();
        return 1;
    }
    int status = found.size() < run.size() ? 1 : 0;
    report_conflicts();
    for (const RunFixture &fixture : run) {
        if (!fixture.found && fixture.conflict.empty())
            report_transfer_event(not_started_event(TransferEventKind::NotNeeded, fixture.address));
    }
    if (settings.test_run) {
        for (uint32_t address : found)
            report_skipped_fixture(address);
        return status;
    }
    if (settings.parallel)
        update_in_parallel(settings, header, image, source, broadcast, &run);
    else
        update_one_by_one(settings, header, image, source, broadcast, &run);

    for (const RunFixture &fixture : run) {
        if (fixture.found && !fixture_succeeded(fixture))
            status = 1;
    }
    const std::vector<SummaryRow> rows = summary_rows(run, header, settings);
    report_summary(rows, settings.retries > 0);
    if (summary && !write_summary_csv(summary, rows)) {
        report_error("failed to write summary file at %s", settings.summary_path.c_str());
        status = 1;
    }
    return status;
}
