#include "packets.h"

#include <cstring>

static void put_header(uint8_t *packet, uint16_t opcode)
{
    std::memcpy(packet, ARTNET_ID, sizeof ARTNET_ID);
    packet[OPCODE_OFFSET] = opcode & 0xFF;  // OpCodes travel low byte first
    packet[OPCODE_OFFSET + 1] = opcode >> 8;
}

static bool has_header(const uint8_t *datagram, uint16_t opcode)
{
    return std::memcmp(datagram, ARTNET_ID, sizeof ARTNET_ID) == 0 &&
           datagram[OPCODE_OFFSET] == (opcode & 0xFF) && datagram[OPCODE_OFFSET + 1] == opcode >> 8;
}

void build_art_poll(uint8_t packet[ART_POLL_SIZE])
{
    std::memset(packet, 0, ART_POLL_SIZE);
    put_header(packet, OP_POLL);
    packet[10] = PROTOCOL_VERSION_HI;
    packet[11] = PROTOCOL_VERSION_LO;
    // The fixtures expect the maker code in both EstaMan and Oem, low byte
    // first each time, unlike the high-byte-first layout of the standard.
    packet[18] = MAKER_CODE & 0xFF;
    packet[19] = MAKER_CODE >> 8;
    packet[20] = MAKER_CODE & 0xFF;
    packet[21] = MAKER_CODE >> 8;
}

void build_art_address(uint8_t packet[ART_ADDRESS_SIZE], uint8_t command)
{
    std::memset(packet, 0, ART_ADDRESS_SIZE);  // names empty: left as they are
    put_header(packet, OP_ADDRESS);
    packet[ADDRESS_PROT_VER_LO_OFFSET - 1] = PROTOCOL_VERSION_HI;
    packet[ADDRESS_PROT_VER_LO_OFFSET] = PROTOCOL_VERSION_LO;
    // 0 would reset these to the node's switches: "no change" is 0x7F.
    packet[ADDRESS_NET_SWITCH_OFFSET] = ADDRESS_NO_CHANGE;
    packet[ADDRESS_BIND_INDEX_OFFSET] = 1;  // the root device
    std::memset(packet + ADDRESS_SW_IN_OFFSET, ADDRESS_NO_CHANGE, 4);
    std::memset(packet + ADDRESS_SW_OUT_OFFSET, ADDRESS_NO_CHANGE, 4);
    packet[ADDRESS_SUB_SWITCH_OFFSET] = ADDRESS_NO_CHANGE;
    packet[ADDRESS_ACN_PRIORITY_OFFSET] = ADDRESS_PRIORITY_NO_CHANGE;
    packet[ADDRESS_COMMAND_OFFSET] = command;
}

void build_firmware_master(uint8_t packet[FIRMWARE_MASTER_SIZE], uint8_t type, uint32_t block_index,
                           uint32_t firmware_words, const uint8_t block[FIRMWARE_BLOCK_SIZE])
{
    std::memset(packet, 0, FIRMWARE_MASTER_SIZE);
    put_header(packet, OP_FIRMWARE_MASTER);
    packet[10] = PROTOCOL_VERSION_HI;
    packet[11] = PROTOCOL_VERSION_LO;
    packet[FIRMWARE_TYPE_OFFSET] = type;
    packet[FIRMWARE_BLOCK_ID_OFFSET] = static_cast<uint8_t>(block_index);  // wraps after 255
    packet[FIRMWARE_LENGTH_OFFSET] = firmware_words >> 24;
    packet[FIRMWARE_LENGTH_OFFSET + 1] = (firmware_words >> 16) & 0xFF;
    packet[FIRMWARE_LENGTH_OFFSET + 2] = (firmware_words >> 8) & 0xFF;
    packet[FIRMWARE_LENGTH_OFFSET + 3] = firmware_words & 0xFF;
    std::memcpy(packet + FIRMWARE_DATA_OFFSET, block, FIRMWARE_BLOCK_SIZE);
}

bool is_poll_reply(const uint8_t *datagram, size_t length)
{
    return length >= POLL_REPLY_MIN_SIZE && has_header(datagram, OP_POLL_REPLY);
}

void terminate_reply_texts(uint8_t *reply)
{
    reply[REPLY_SHORT_NAME_OFFSET + REPLY_SHORT_NAME_SIZE - 1] = 0;
    reply[REPLY_LONG_NAME_OFFSET + REPLY_LONG_NAME_SIZE - 1] = 0;
    reply[REPLY_NODE_REPORT_OFFSET + REPLY_NODE_REPORT_SIZE - 1] = 0;
}

uint32_t reply_ip_address(const uint8_t *reply)
{
    uint32_t address;
    std::memcpy(&address, reply + REPLY_IP_OFFSET, sizeof address);  // stays in network order
    return address;
}

// Copies a text field of `size` bytes, keeping at most size - 1 of them.
static void copy_text(char *to, const uint8_t *from, size_t size)
{
    std::memcpy(to, from, size - 1);
    to[size - 1] = 0;
}

PollReply decode_poll_reply(const uint8_t *reply, size_t length)
{
    PollReply value;
    value.ip = reply_ip_address(reply);
    std::memcpy(value.mac, reply + REPLY_MAC_OFFSET, sizeof value.mac);
    value.esta_code = static_cast<uint16_t>(reply[REPLY_ESTA_HI_OFFSET] << 8 | reply[REPLY_ESTA_LO_OFFSET]);
    value.oem_code = static_cast<uint16_t>(reply[REPLY_OEM_HI_OFFSET] << 8 | reply[REPLY_OEM_LO_OFFSET]);
    value.version = static_cast<uint16_t>(reply[REPLY_VERS_HI_OFFSET] << 8 | reply[REPLY_VERS_LO_OFFSET]);
    copy_text(value.short_name, reply + REPLY_SHORT_NAME_OFFSET, REPLY_SHORT_NAME_SIZE);
    copy_text(value.long_name, reply + REPLY_LONG_NAME_OFFSET, REPLY_LONG_NAME_SIZE);
    copy_text(value.node_report, reply + REPLY_NODE_REPORT_OFFSET, REPLY_NODE_REPORT_SIZE);
    value.status1 = reply[REPLY_STATUS1_OFFSET];
    value.status2 = length > REPLY_STATUS2_OFFSET ? reply[REPLY_STATUS2_OFFSET] : 0;
    return value;
}

bool same_mac(const uint8_t *reply, const uint8_t mac[6])
{
    return std::memcmp(reply + REPLY_MAC_OFFSET, mac, 6) == 0;
}

// The NodeReport codes from RcPowerFail on, which tell of trouble (0 and 1
// are debug and power-on, 6 and 7 a name accepted).
static const char *const TROUBLE[] = {nullptr, nullptr, "power failure", "socket write failure",
                                      "unreadable packet", "UDP failure", nullptr, nullptr, "DMX error",
                                      "DMX output full", "DMX input full", "switch error", "configuration error",
                                      "DMX short circuit", "firmware failure", "user failure", "factory reset"};
static const unsigned CODES = sizeof TROUBLE / sizeof TROUBLE[0];

// "#xxxx": four digits after '#'; false when there are none.
static bool report_code(const char *report, unsigned *code)
{
    if (report[0] != '#')
        return false;
    unsigned hex = 0, decimal = 0;
    bool all_decimal = true;
    for (int i = 1; i <= 4; ++i) {
        const char c = report[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                       : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            return false;
        all_decimal = all_decimal && digit < 10;
        hex = hex * 16 + static_cast<unsigned>(digit);
        decimal = decimal * 10 + static_cast<unsigned>(digit);
    }
    *code = hex < CODES || !all_decimal ? hex : decimal;
    return true;
}

std::string node_explanation(const PollReply &reply)
{
    std::string said;
    unsigned code = 0;
    if (report_code(reply.node_report, &code) && code < CODES && TROUBLE[code])
        said = std::string("node report \"") + reply.node_report + "\" (" + TROUBLE[code] + ")";
    if (reply.status1 & STATUS1_BOOTED_FROM_ROM)
        said += std::string(said.empty() ? "" : "; ") + "booted from ROM";
    if (!said.empty() && (reply.status2 & STATUS2_DHCP_CONFIGURED))
        said += "; address from DHCP";
    return said;
}

FirmwareReplyCheck check_firmware_reply(const uint8_t *datagram, size_t length)
{
    if (length < FIRMWARE_REPLY_SIZE || !has_header(datagram, OP_FIRMWARE_REPLY))
        return FirmwareReplyCheck::NotAReply;
    if (datagram[10] != PROTOCOL_VERSION_HI || datagram[11] < PROTOCOL_VERSION_LO)
        return FirmwareReplyCheck::BadProtocol;
    return FirmwareReplyCheck::Accepted;
}
