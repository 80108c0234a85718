#include "discovery.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "library.h"
#include "receive_window.h"
#include "report.h"
#include "socket.h"

static const int POLL_SEND_TRIES = 3;
static const uint64_t LISTEN_WINDOW_US = 10000;
static const int LISTEN_FAILED_WINDOWS = 300;  // 3 s without a new fixture
static const uint32_t ALL_ONES = 0xFFFFFFFFu;

UpgradeStatus upgrade_status(const AlfHeader &header, uint16_t esta_code, uint16_t oem_code,
                             uint16_t fixture_version, bool ignore_version)
{
    if (!header.valid || !alf_fits(header.oemCodes, esta_code, oem_code))
        return UpgradeStatus::Incompatible;
    if (header.version == 0 || header.version > fixture_version || ignore_version)
        return UpgradeStatus::UpgradeRequired;
    return UpgradeStatus::UpToDate;  // never offered a downgrade
}

UpgradeStatus offer_status(const std::vector<AlfHeader> &images, uint16_t esta_code, uint16_t oem_code,
                           uint16_t fixture_version, bool ignore_version)
{
    if (images.size() == 1)
        return upgrade_status(images[0], esta_code, oem_code, fixture_version, ignore_version);
    const int chosen = choose_image(images, esta_code, oem_code);
    if (chosen == AMBIGUOUS_IMAGE)
        return UpgradeStatus::Ambiguous;
    if (chosen == NO_IMAGE)
        return UpgradeStatus::Incompatible;
    return upgrade_status(images[chosen], esta_code, oem_code, fixture_version, ignore_version);
}

// The word of the upgradeStatus report line.
static const char *status_word(UpgradeStatus status)
{
    switch (status) {
    case UpgradeStatus::Incompatible:
        return "incompatible";
    case UpgradeStatus::UpgradeRequired:
        return "upgrade-required";
    case UpgradeStatus::Ambiguous:
        return "ambiguous";
    case UpgradeStatus::UpToDate:
        break;
    }
    return "up-to-date";
}

static bool send_poll(ArtSocket *socket, uint32_t destination)
{
    uint8_t poll[ART_POLL_SIZE];
    build_art_poll(poll);
    for (int attempt = 0; attempt < POLL_SEND_TRIES; ++attempt) {
        int error = 0;
        if (send_datagram(socket, destination, poll, sizeof poll, &error))
            return true;
        report_send_failed(error);
    }
    report_step_error("Transmit failure.");
    return false;
}

static bool is_broadcast_poll(const PollTarget &target)
{
    return (target.destination | target.netmask) == ALL_ONES;
}

// Sender tests: the controller's own subnet, and the polled host itself
// when the poll went to one host rather than a broadcast address.
static bool sender_accepted(const PollTarget &target, uint32_t sender)
{
    if (target.source != 0 && (sender & target.netmask) != (target.source & target.netmask))
        return false;
    if (!is_broadcast_poll(target) && sender != target.destination)
        return false;
    return true;
}

// An address already seen, and the MACs that answered from it.
struct Seen {
    std::vector<std::string> macs;
    bool needed = false;
    size_t conflict = SIZE_MAX;  // its entry in the conflicts, once there is one
};

static std::string mac_text(const uint8_t *m)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return text;
}

// Another reply with an IP Address field already seen: the same node again
// (another of its ports, or a repeated answer) when its MAC is known;
// otherwise another device with the same address, which no upload may
// reach, since either could take the blocks.
static void take_twin(const uint8_t *reply, bool needed, Seen *seen, std::vector<FixtureRecord> *fixtures,
                      std::vector<AddressConflict> *conflicts)
{
    const std::string mac = mac_text(reply + REPLY_MAC_OFFSET);
    if (std::find(seen->macs.begin(), seen->macs.end(), mac) != seen->macs.end())
        return;
    seen->macs.push_back(mac);
    seen->needed = seen->needed || needed;
    const uint32_t address = reply_ip_address(reply);
    fixtures->erase(std::remove_if(fixtures->begin(), fixtures->end(),
                                   [&](const FixtureRecord &r) { return reply_ip_address(r.bytes) == address; }),
                    fixtures->end());
    report_address_conflict(address, seen->macs);
    if (!conflicts)
        return;
    if (seen->conflict == SIZE_MAX) {
        seen->conflict = conflicts->size();
        conflicts->push_back(AddressConflict{address, {}, false});
    }
    (*conflicts)[seen->conflict].macs = seen->macs;
    (*conflicts)[seen->conflict].needed = seen->needed;
}

// Reports an ArtPollReply of a fixture not seen yet in this discovery
// and keeps the fixture when it needs the image. False for anything else,
// a fixture answering twice included.
static bool take_reply(uint8_t *reply, long length, const std::vector<AlfHeader> &images, bool ignore_version,
                       std::unordered_map<uint32_t, Seen> *seen, std::vector<FixtureRecord> *fixtures,
                       std::vector<AddressConflict> *conflicts, std::vector<FixtureRecord> *heard)
{
    if (length < 0 || !is_poll_reply(reply, static_cast<size_t>(length)))
        return false;
    terminate_reply_texts(reply);
    const PollReply fixture = decode_poll_reply(reply, static_cast<size_t>(length));
    const bool listing = images.empty();
    const UpgradeStatus status =
        listing ? UpgradeStatus::Incompatible
                : offer_status(images, fixture.esta_code, fixture.oem_code, fixture.version, ignore_version);
    const auto known = seen->find(fixture.ip);
    if (known != seen->end()) {
        if (!listing)  // only an update needs to know; a listing shows the address once
            take_twin(reply, status == UpgradeStatus::UpgradeRequired, &known->second, fixtures, conflicts);
        return false;
    }
    Seen &entry = (*seen)[fixture.ip];
    entry.macs.push_back(mac_text(fixture.mac));
    entry.needed = status == UpgradeStatus::UpgradeRequired;
    FixtureRecord record;
    std::memcpy(record.bytes, reply, sizeof record.bytes);
    if (heard)
        heard->push_back(record);
    if (listing) {
        report_fixture(fixture);
    } else {
        report_fixture(fixture, status_word(status));
        if (status == UpgradeStatus::UpgradeRequired)
            fixtures->push_back(record);
    }
    return true;
}

// Receive windows of 10 ms (receive_window.h) until 300 have passed without
// a new fixture; a new fixture ends its window early, every other datagram
// is dropped inside it. A failed receive ends its window as failed: an
// error of the sockets layer, or a datagram too long for the buffer from
// the polled host itself. Too long from anyone else (a console's ArtDmx of
// 512 channels, say), a datagram is dropped like any other foreign one.
static void listen_for_replies(ArtSocket *socket, const PollTarget &target, const std::vector<AlfHeader> &images,
                               bool ignore_version, std::vector<FixtureRecord> *fixtures,
                               std::vector<AddressConflict> *conflicts, std::vector<FixtureRecord> *heard)
{
    std::unordered_map<uint32_t, Seen> seen;  // IP Address fields already reported
    uint8_t reply[POLL_REPLY_BUFFER_SIZE];
    int failed_windows = 0;
    uint64_t deadline = clock_us() + LISTEN_WINDOW_US;
    while (failed_windows < LISTEN_FAILED_WINDOWS) {
        std::memset(reply, 0, sizeof reply);
        uint32_t sender = 0;
        int error = 0;
        const long length = receive_datagram(socket, reply, sizeof reply, deadline, &sender, &error);
        const uint64_t now = clock_us();
        const bool timed_out = length < 0 && is_receive_timeout(error);
        const bool accepted = sender_accepted(target, sender);
        if (accepted && take_reply(reply, length, images, ignore_version, &seen, fixtures, conflicts, heard)) {
            if (target.stop_after_first)
                break;
            deadline = now + LISTEN_WINDOW_US;
            continue;
        }
        if (length < 0 && !timed_out && (sender == 0 || (accepted && !is_broadcast_poll(target)))) {
            ++failed_windows;
            deadline = now + LISTEN_WINDOW_US;
            continue;
        }
        while (failed_windows < LISTEN_FAILED_WINDOWS && deadline_reached(deadline, now, timed_out)) {
            ++failed_windows;
            deadline += LISTEN_WINDOW_US;
        }
    }
}

bool run_poll(const PollTarget &target, const std::vector<AlfHeader> &images, bool ignore_version,
              std::vector<FixtureRecord> *fixtures, std::vector<AddressConflict> *conflicts,
              std::vector<FixtureRecord> *heard)
{
    fixtures->clear();
    if (heard)
        heard->clear();
    if (conflicts)
        conflicts->clear();
    ArtSocket socket = open_artnet_socket(target.source);
    if (!artnet_socket_is_open(socket))
        return false;

    bool ok = false;
    if (!enable_broadcast(&socket)) {
        report_error("failed to set SO_BROADCAST on socket");
    } else {
        // Before the poll goes out, so no early broadcast reply is missed.
        // A fixture polled alone may answer to the broadcast address, as
        // Art-Net 3 nodes do.
        if (is_broadcast_poll(target))
            receive_broadcasts_too(&socket, target.source, target.destination);
        else if (target.broadcast)
            receive_broadcasts_too(&socket, target.source, target.broadcast);
        if (send_poll(&socket, target.destination)) {
            listen_for_replies(&socket, target, images, ignore_version, fixtures, conflicts, heard);
            report_discovery_end();
            ok = true;
        }
    }
    close_artnet_socket(&socket);
    return ok;
}
