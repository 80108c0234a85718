#include "update.h"

#include <algorithm>

#include "library.h"
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
    int image = 0;              // of the run's images: the one it gets
    int pass = 0;               // -n: 0 for the test group, 1 for the rest
    Transfer transfer;          // Idle until started
};

static std::vector<RunFixture> choose_fixtures(const RunSettings &settings, const std::vector<LibraryImage> &images,
                                              const std::vector<FixtureRecord> &fixtures,
                                              const std::vector<AddressConflict> &conflicts)
{
    const std::vector<AlfHeader> headers = library_headers(images);
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
            // Discovery kept it because exactly one image is its own.
            run.back().image = images.size() == 1 ? 0 : choose_image(headers, reply.esta_code, reply.oem_code);
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

// The mode of one fixture's transfer; with a library its events name its
// image.
static TransferMode fixture_mode(const RunSettings &settings, uint32_t broadcast, const std::vector<LibraryImage> &images,
                                 const RunFixture &fixture)
{
    TransferMode mode = transfer_mode(settings, broadcast);
    if (!settings.library.empty())
        mode.image_name = images[fixture.image].file.c_str();
    return mode;
}

static void start_fixture(RunFixture *fixture, const RunSettings &settings, const std::vector<LibraryImage> &images,
                          uint32_t broadcast)
{
    const LibraryImage &image = images[fixture->image];
    start_transfer(&fixture->transfer, image.bytes, image.header, fixture->address, clock_us(),
                   fixture_mode(settings, broadcast, images, *fixture), fixture->identity);
}

// The fixtures of this pass (-n: the test group, then the rest), in order.
static std::vector<RunFixture *> pass_fixtures(std::vector<RunFixture> *run, int pass)
{
    std::vector<RunFixture *> chosen;
    for (RunFixture &fixture : *run) {
        if (fixture.found && !fixture.not_started && fixture.pass == pass)
            chosen.push_back(&fixture);
    }
    return chosen;
}

// One fixture after another, each with its own socket for its upload and
// the check after its restart; with -k the fixtures after the K-th
// failure, with -S those after the stop line, are named and left alone.
static void update_one_by_one(const RunSettings &settings, const std::vector<LibraryImage> &images, uint32_t source,
                              uint32_t broadcast, const std::vector<RunFixture *> &fixtures)
{
    unsigned failures = 0;
    for (RunFixture *fixture : fixtures) {
        if (settings.stop_on_input && stop_requested()) {
            report_transfer_event(not_started_event(TransferEventKind::Stopped, fixture->address));
            fixture->not_started = true;
            continue;
        }
        if (settings.failure_limit && failures >= settings.failure_limit) {
            TransferEvent event = not_started_event(TransferEventKind::HeldBack, fixture->address);
            event.value = static_cast<int>(failures);
            event.limit = settings.failure_limit;
            report_transfer_event(event);
            fixture->not_started = true;
            continue;
        }
        report_uploading_to(fixture->address);
        Transfer *t = &fixture->transfer;
        ArtSocket socket = open_artnet_socket(source);
        // Before the progress line only the failing step's own message is printed.
        if (!artnet_socket_is_open(socket))
            goto done;
        if (settings.confirm || settings.retries)
            hear_polled_fixtures(&socket, source, broadcast);
        start_fixture(fixture, settings, images, broadcast);
        run_transfers(&socket, &t, 1);
    done:
        close_artnet_socket(&socket);  // also when it never opened
        failures += !transfer_succeeded(*t);
    }
}

// Starts transfers while fewer than -p are in flight, and none once -k
// fixtures have failed or the run was told to stop (-S), and turns the
// loop until every fixture is done. Transfers of different images share
// the socket.
static void drive_in_parallel(const RunSettings &settings, const std::vector<LibraryImage> &images, ArtSocket *socket,
                              uint32_t broadcast, const std::vector<RunFixture *> &queue)
{
    std::vector<Transfer *> transfers;
    for (RunFixture *fixture : queue)
        transfers.push_back(&fixture->transfer);
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
            start_fixture(queue[next], settings, images, broadcast);
            in_flight += transfer_in_flight(*transfers[next]);
        }
        if (!step_transfers(socket, transfers.data(), transfers.size()) && next == queue.size())
            break;
    }
}

static void update_in_parallel(const RunSettings &settings, const std::vector<LibraryImage> &images, uint32_t source,
                               uint32_t broadcast, const std::vector<RunFixture *> &fixtures)
{
    ArtSocket socket = open_artnet_socket(source);
    if (!artnet_socket_is_open(socket))
        goto done;  // every fixture failed; the socket step said why
    if (settings.confirm || settings.retries)
        hear_polled_fixtures(&socket, source, broadcast);
    drive_in_parallel(settings, images, &socket, broadcast, fixtures);

done:
    close_artnet_socket(&socket);  // also when it never opened
}

static void update_pass(const RunSettings &settings, const std::vector<LibraryImage> &images, uint32_t source,
                        uint32_t broadcast, std::vector<RunFixture> *run, int pass)
{
    const std::vector<RunFixture *> fixtures = pass_fixtures(run, pass);
    if (settings.parallel)
        update_in_parallel(settings, images, source, broadcast, fixtures);
    else
        update_one_by_one(settings, images, source, broadcast, fixtures);
}

static bool fixture_succeeded(const RunFixture &fixture)
{
    return !fixture.not_started && transfer_succeeded(fixture.transfer);
}

static std::vector<SummaryRow> summary_rows(const std::vector<RunFixture> &run, const std::vector<LibraryImage> &images,
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
        if (!settings.library.empty() && fixture.found)
            row.image = images[fixture.image].file;
        if (!fixture.not_started) {
            const Transfer &t = fixture.transfer;
            row.tries = settings.retries ? t.tries : 0;
            row.last_ack_lost = t.last_unacknowledged && transfer_succeeded(t);
            row.moved_to = t.moved_to;
            row.node_word = t.node_word;
            row.result = fixture_succeeded(fixture) ? (confirm ? "confirmed" : "uploaded") : "failed";
            row.after_known = t.version_reported || t.result == TransferResult::Uploaded;
            row.after = t.version_reported ? t.reported_version : images[fixture.image].header.version;
            row.microseconds = t.started_us && t.ended_us > t.started_us ? t.ended_us - t.started_us : 0;
            row.retries = t.retries;
        }
        rows.push_back(row);
    }
    return rows;
}

// -n: the test group, updated and confirmed before any other starts: the
// first fixtures named with -u, or else the first of the run.
static void mark_test_group(std::vector<RunFixture> *run, const RunSettings &settings)
{
    std::vector<uint32_t> order = settings.only;
    if (order.empty()) {
        for (const RunFixture &fixture : *run)
            order.push_back(fixture.address);
    }
    for (RunFixture &fixture : *run)
        fixture.pass = 1;
    unsigned taken = 0;
    for (uint32_t address : order) {
        for (RunFixture &fixture : *run) {
            if (taken < settings.test_group && fixture.address == address && fixture.found && !fixture.not_started &&
                fixture.pass == 1) {
                fixture.pass = 0;
                ++taken;
            }
        }
    }
}

// After a test group with failures, no other fixture starts; each says why.
static bool test_group_passed(std::vector<RunFixture> *run, unsigned size)
{
    int failed = 0;
    for (const RunFixture &fixture : *run)
        failed += fixture.found && fixture.pass == 0 && !fixture_succeeded(fixture);
    if (failed == 0)
        return true;
    for (RunFixture &fixture : *run) {
        if (!fixture.found || fixture.pass != 1 || fixture.not_started)
            continue;
        TransferEvent event = not_started_event(TransferEventKind::HeldByTestGroup, fixture.address);
        event.value = failed;
        event.limit = size;
        report_transfer_event(event);
        fixture.not_started = true;
    }
    return false;
}

int run_update_stage(const RunSettings &settings, const std::vector<LibraryImage> &images, uint32_t source,
                     uint32_t broadcast, const std::vector<FixtureRecord> &fixtures,
                     const std::vector<AddressConflict> &conflicts, FILE *summary)
{
    std::vector<RunFixture> run = choose_fixtures(settings, images, fixtures, conflicts);
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
    if (settings.test_group) {
        mark_test_group(&run, settings);
        update_pass(settings, images, source, broadcast, &run, 0);
        if (test_group_passed(&run, settings.test_group))
            update_pass(settings, images, source, broadcast, &run, 1);
    } else {
        update_pass(settings, images, source, broadcast, &run, 0);
    }

    for (const RunFixture &fixture : run) {
        if (fixture.found && !fixture_succeeded(fixture))
            status = 1;
    }
    const std::vector<SummaryRow> rows = summary_rows(run, images, settings);
    report_summary(rows, settings.retries > 0);
    if (summary && !write_summary_csv(summary, rows, !settings.library.empty())) {
        report_error("failed to write summary file at %s", settings.summary_path.c_str());
        status = 1;
    }
    return status;
}
