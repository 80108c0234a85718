#include "upload.h"

#include <cstring>

#include "netif.h"
#include "packets.h"
#include "report.h"
#include "socket.h"

static const int ATTEMPTS_PER_BLOCK = 3;
static const int SEND_TRIES = 3;
static const uint32_t DRAIN_TIMEOUT_MS = 1;
static const uint32_t REPLY_TIMEOUT_MS = 50;
static const uint32_t PAUSE_AFTER_BLOCK_US = 50000;

// Failed receives of 50 ms each before an attempt gives up: the fixture
// erases flash after the first block and writes it after the last one.
static const int FIRST_BLOCK_WAIT_LIMIT = 40;
static const int MIDDLE_BLOCK_WAIT_LIMIT = 1;
static const int LAST_BLOCK_WAIT_LIMIT = 150;

enum class Attempt { Replied, SendFailed, NoReply };

struct Block {
    uint32_t index;
    uint8_t type;
    size_t length;
    int wait_limit;
    char mark;
};

static Block describe_block(uint32_t index, uint32_t block_count, uint64_t file_words)
{
    Block block {index, FIRM_CONT, FIRMWARE_BLOCK_SIZE, MIDDLE_BLOCK_WAIT_LIMIT, '-'};
    if (index == 0) {
        block.type = FIRM_FIRST;
        block.wait_limit = FIRST_BLOCK_WAIT_LIMIT;
        block.mark = 'F';
    }
    if (index == block_count - 1) {
        block.type = FIRM_LAST;
        block.wait_limit = LAST_BLOCK_WAIT_LIMIT;
        block.mark = 'L';
        const uint64_t tail_words = file_words % (FIRMWARE_BLOCK_SIZE / 2);
        if (tail_words != 0)
            block.length = static_cast<size_t>(tail_words * 2);
    }
    return block;
}

// Empties the receive queue, so a late reply to an earlier attempt cannot
// be taken for the answer to this one.
static void drain_queue(ArtSocket *socket)
{
    uint8_t scratch[DRAIN_BUFFER_SIZE];
    uint32_t sender;
    int error;
    while (receive_datagram(socket, scratch, sizeof scratch, &sender, &error) >= 0) {
    }
}

static bool send_block(ArtSocket *socket, uint32_t fixture, const uint8_t *packet)
{
    for (int attempt = 0; attempt < SEND_TRIES; ++attempt) {
        int error = 0;
        if (send_datagram(socket, fixture, packet, FIRMWARE_MASTER_SIZE, &error))
            return true;
        report_send_failed(error);
    }
    return false;
}

// Waits for an acceptable ArtFirmwareReply from `fixture`. Datagrams that are
// not one are dropped without counting against the limit.
static bool wait_for_reply(ArtSocket *socket, uint32_t fixture, int wait_limit, uint8_t *reply)
{
    int failed_receives = 0;
    while (failed_receives < wait_limit) {
        std::memset(reply, 0, FIRMWARE_REPLY_SIZE);
        uint32_t sender = 0;
        int error = 0;
        const long length = receive_datagram(socket, reply, FIRMWARE_REPLY_SIZE, &sender, &error);
        if (length < 0) {
            ++failed_receives;
            if (!is_receive_timeout(error))
                report_receive_error(error);
            continue;
        }
        if (sender != fixture)
            continue;
        switch (check_firmware_reply(reply, static_cast<size_t>(length))) {
        case FirmwareReplyCheck::Accepted:
            return true;
        case FirmwareReplyCheck::BadProtocol:
            report_bad_protocol_version();
            break;
        case FirmwareReplyCheck::NotAReply:
            break;
        }
    }
    return false;
}

static Attempt attempt_block(ArtSocket *socket, uint32_t fixture, const uint8_t *packet, int wait_limit,
                             uint8_t *reply)
{
    if (!set_receive_timeout(socket, DRAIN_TIMEOUT_MS)) {
        report_timeout_set_failed();
        return Attempt::SendFailed;
    }
    drain_queue(socket);
    if (!set_receive_timeout(socket, 0))
        report_timeout_set_failed();
    if (!send_block(socket, fixture, packet))
        return Attempt::SendFailed;
    if (!set_receive_timeout(socket, REPLY_TIMEOUT_MS)) {
        report_timeout_set_failed();
        report_upload_rx_timeout_failed();
        return Attempt::NoReply;
    }
    return wait_for_reply(socket, fixture, wait_limit, reply) ? Attempt::Replied : Attempt::NoReply;
}

// Sends one block with up to three attempts and judges the answer. Prints
// the block's marks; on failure also the lines that end the progress line.
static bool upload_block(ArtSocket *socket, uint32_t fixture, const Block &block, const uint8_t *packet)
{
    uint8_t reply[FIRMWARE_REPLY_SIZE];
    bool replied = false;
    for (int attempt = 0; attempt < ATTEMPTS_PER_BLOCK && !replied; ++attempt) {
        switch (attempt_block(socket, fixture, packet, block.wait_limit, reply)) {
        case Attempt::Replied:
            replied = true;
            break;
        case Attempt::SendFailed:
            report_progress_mark('!');
            break;
        case Attempt::NoReply:
            report_progress_mark('T');
            break;
        }
    }
    if (!replied) {
        report_line_end();
        report_line_end();
        return false;
    }

    const uint8_t type = reply[FIRMWARE_REPLY_TYPE_OFFSET];
    if (type == FIRM_ALL_GOOD && block.type == FIRM_LAST) {
        report_progress_mark('G');
    } else if (type == FIRM_BLOCK_GOOD) {
        report_progress_mark(' ');
    } else {
        report_progress_mark('B');
        report_line_end();
        report_unexpected_reply_type(type);
        report_line_end();
        return false;  // a rejection is final
    }
    sleep_microseconds(PAUSE_AFTER_BLOCK_US);
    return true;
}

int upload_firmware(FILE *alf_file, AlfHeader header, uint32_t source, uint32_t fixture)
{
    const uint64_t file_words = static_cast<uint64_t>(header.data_length) + ALF_HEADER_WORDS;
    const uint32_t block_count = alf_block_count(header.data_length);
    uint8_t data[FIRMWARE_BLOCK_SIZE];
    uint8_t packet[FIRMWARE_MASTER_SIZE];
    bool reported = false;  // the blockCount and progress lines are out
    bool ok = false;
    ArtSocket socket = open_artnet_socket(source);

    // Before the progress line only the failing step's own message is printed.
    if (!artnet_socket_is_open(socket))
        goto done;
    if (std::fseek(alf_file, 0, SEEK_SET) != 0 || std::ferror(alf_file)) {
        report_seek_start_failed();
        goto done;
    }
    report_upload_start(block_count);
    reported = true;
    ok = true;
    for (uint32_t i = 0; i < block_count && ok; ++i) {
        const Block block = describe_block(i, block_count, file_words);
        std::memset(data, 0, sizeof data);
        if (std::fread(data, block.length, 1, alf_file) != 1) {
            report_block_read_failed();
            report_line_end();
            ok = false;
            break;
        }
        report_progress_mark(block.mark);
        build_firmware_master(packet, block.type, block.index, static_cast<uint32_t>(file_words), data);
        ok = upload_block(&socket, fixture, block, packet);
    }
    if (ok)
        report_line_end();

done:
    close_artnet_socket(&socket);  // also when it never opened
    if (reported && ok)
        report_upload_success();
    else if (reported)
        report_upload_failed();
    return ok ? 0 : 1;
}
