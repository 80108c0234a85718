#include "locate.h"

#include <cstring>

#include "packets.h"
#include "report.h"
#include "socket.h"

// The node replies to ArtAddress with an ArtPollReply; a second is long
// enough for any that answers a poll.
static const uint64_t ANSWER_WAIT_US = 1000000;

// Waits for the ArtPollReply of `fixture`; true with it in `reply`.
static bool hear_answer(ArtSocket *socket, uint32_t fixture, PollReply *reply)
{
    const uint64_t deadline = clock_us() + ANSWER_WAIT_US;
    uint8_t datagram[POLL_REPLY_BUFFER_SIZE];
    for (;;) {
        std::memset(datagram, 0, sizeof datagram);
        uint32_t sender = 0;
        int error = 0;
        const long length = receive_datagram(socket, datagram, sizeof datagram, deadline, &sender, &error);
        if (length < 0 && is_receive_timeout(error))
            return false;
        if (length >= 0 && is_poll_reply(datagram, static_cast<size_t>(length)) && reply_ip_address(datagram) == fixture) {
            terminate_reply_texts(datagram);
            *reply = decode_poll_reply(datagram, static_cast<size_t>(length));
            return true;
        }
        if (clock_us() >= deadline)
            return false;
    }
}

int run_locate(const RunSettings &settings)
{
    ArtSocket socket = open_artnet_socket(settings.source);
    if (!artnet_socket_is_open(socket))
        return 1;
    uint8_t packet[ART_ADDRESS_SIZE];
    build_art_address(packet, settings.locate_on ? AC_LED_LOCATE : AC_LED_NORMAL);
    int error = 0;
    int status = 1;
    if (!send_datagram(&socket, settings.locate, packet, sizeof packet, &error)) {
        report_send_failed(error);
    } else {
        PollReply reply {};
        const bool answered = hear_answer(&socket, settings.locate, &reply);
        report_locate(settings.locate, settings.locate_on, answered ? &reply : nullptr);
        status = answered ? 0 : 1;
    }
    close_artnet_socket(&socket);
    return status;
}
