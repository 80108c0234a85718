#include "discovery.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "report.h"
#include "socket.h"

static const int POLL_SEND_TRIES = 3;
static const uint32_t LISTEN_TIMEOUT_MS = 10;
static const int LISTEN_FAILED_RECEIVES = 300;  // about 3 s of silence
static const uint32_t ALL_ONES = 0xFFFFFFFFu;

UpgradeStatus upgrade_status(const AlfHeader &header, uint16_t esta_code, uint16_t oem_code,
                             uint16_t fixture_version, bool ignore_version)
{
    if (!header.valid || esta_code != MAKER_CODE)
        return UpgradeStatus::Incompatible;
    // The maker's own OEM code fits every image.
    const bool fits = oem_code == MAKER_CODE ||
                      std::find(header.oemCodes.begin(), header.oemCodes.end(), oem_code) != header.oemCodes.end();
    if (!fits)
        return UpgradeStatus::Incompatible;
    if (header.version == 0 || header.version > fixture_version || ignore_version)
        return UpgradeStatus::UpgradeRequired;
    return UpgradeStatus::UpToDate;  // never offered a downgrade
}

// The word of the upgradeStatus report line.
static const char *status_word(UpgradeStatus status)
{
    switch (status) {
    case UpgradeStatus::Incompatible:
        return "incompatible";
    case UpgradeStatus::UpgradeRequired:
        return "upgrade-required";
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
    report_transmit_failure();
    return false;
}

// Sender tests: the controller's own subnet, and the polled host itself
// when the poll went to one host rather than a broadcast address.
static bool sender_accepted(const PollTarget &target, uint32_t sender)
{
    if (target.source != 0 && (sender & target.netmask) != (target.source & target.netmask))
        return false;
    if ((target.destination | target.netmask) != ALL_ONES && sender != target.destination)
        return false;
    return true;
}

static void listen_for_replies(ArtSocket *socket, const PollTarget &target, const AlfHeader &header,
                               bool ignore_version, std::vector<FixtureRecord> *fixtures)
{
    std::unordered_set<uint32_t> seen;  // IP Address fields already reported
    uint8_t reply[POLL_REPLY_BUFFER_SIZE];
    int failed_receives = 0;
    while (failed_receives < LISTEN_FAILED_RECEIVES) {
        std::memset(reply, 0, sizeof reply);
        uint32_t sender = 0;
        int error = 0;
        const long length = receive_datagram(socket, reply, sizeof reply, &sender, &error);
        if (length < 0) {
            ++failed_receives;
            continue;
        }
        if (!sender_accepted(target, sender) || !is_poll_reply(reply, static_cast<size_t>(length)))
            continue;
        terminate_reply_texts(reply);

        const PollReply fixture = decode_poll_reply(reply);
        const UpgradeStatus status =
            upgrade_status(header, fixture.esta_code, fixture.oem_code, fixture.version, ignore_version);
        if (!seen.insert(fixture.ip).second)
            continue;
        report_fixture(fixture);
        if (header.valid) {
            report_upgrade_status(status_word(status));
            if (status == UpgradeStatus::UpgradeRequired) {
                FixtureRecord record;
                std::memcpy(record.bytes, reply, sizeof record.bytes);
                fixtures->push_back(record);
            }
        }
        if (target.stop_after_first)
            break;
    }
}

bool run_poll(const PollTarget &target, AlfHeader header, bool ignore_version,
              std::vector<FixtureRecord> *fixtures)
{
    fixtures->clear();
    ArtSocket socket = open_artnet_socket(target.source);
    if (!artnet_socket_is_open(socket))
        return false;

    bool ok = false;
    if (!enable_broadcast(&socket)) {
        report_broadcast_failed();
    } else {
        // Before the poll goes out, so no early broadcast reply is missed.
        if ((target.destination | target.netmask) == ALL_ONES)
            receive_broadcasts_too(&socket, target.source, target.destination);
        if (!send_poll(&socket, target.destination)) {
            ok = false;
        } else if (!set_receive_timeout(&socket, LISTEN_TIMEOUT_MS)) {
            report_timeout_set_failed();
            report_poll_rx_timeout_failed();
        } else {
            listen_for_replies(&socket, target, header, ignore_version, fixtures);
            report_discovery_end();
            ok = true;
        }
    }
    close_artnet_socket(&socket);
    return ok;
}
