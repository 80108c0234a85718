// Configuration of the virtual fixture: one FixtureConfig per fixture it
// plays, read from "key=value,key=value" specs given on the command line or
// as lines of a config file. Pure text handling, no sockets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "maker_code.h"

// One rule of a fixture's fault script. It matches the blocks chosen by
// its selector and acts on the first `count` packets of such a block that
// arrive during one upload (retries included; 0 = every packet). The
// selector Reboot matches the restart after a completed upload instead, and
// acts on the first `count` restarts.
struct FaultRule {
    enum class Select { Index, First, Last, Middle, All, Reboot };
    enum class Action {
        Drop,       // no reply: the packet is ignored as if lost
        Delay,      // reply after `value` ms
        Type,       // reply with Type `value` instead of the right one
        Protocol,   // reply with ProtVerLo `value`
        FromAlt,    // reply from the fixture's alternate address
        Oversize,   // reply padded to `value` bytes
        Lost,       // the block is taken, but its reply is lost on the way
        Old,        // Reboot: comes back with the version it had before
        Never,      // Reboot: never answers again
    };
    Select select = Select::All;
    uint32_t index = 0;  // for Select::Index
    Action action = Action::Drop;
    uint32_t value = 0;
    uint32_t count = 1;
    uint32_t upload = 0;  // only in this upload of the fixture's life, from 1; 0 = every upload
};

enum class ReplyMode { Unicast, Broadcast };

// All IPv4 addresses are host byte order here (a.b.c.d is a << 24 | ...).
struct FixtureConfig {
    uint32_t bind = 0;               // required; the fixture's own socket
    uint32_t ip_field = 0;           // IP Address field; 0 = bind address
    uint32_t alt = 0;                // alternate socket, 0 = none
    uint32_t broadcast = 0;          // broadcast address it listens on, 0 = none
    ReplyMode reply = ReplyMode::Unicast;
    bool poll_reply_from_alt = false;
    uint32_t poll_delay_ms = 0;      // ArtPollReply this late
    uint8_t version_hi = 1;
    uint8_t version_lo = 0;
    uint16_t oem = MAKER_CODE;
    uint16_t esta = MAKER_CODE;
    std::string short_name = "vfixture";  // raw bytes
    std::string long_name;                 // raw bytes; empty = "Virtual fixture <bind>"
    bool long_name_given = false;
    std::string node_report = "#0001 [0000] virtual fixture ready";
    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    bool mac_given = false;
    uint32_t reply_length = 239;     // bytes of ArtPollReply sent
    uint32_t reboot_ms = 0;          // silent this long after taking an image, then the new version
    std::string image_path;          // empty = do not write the image
    std::vector<FaultRule> faults;
    // How other Art-Net stacks behave:
    uint32_t pad_replies = 0;        // every ArtFirmwareReply padded with zeros to this many bytes; 0 = 36
    uint32_t ports = 1;              // ArtPollReplies per poll, BindIndex 1..ports
    bool strict = false;             // a repeated FirmFirst and any packet after a completed upload: FirmFail
    uint32_t busy_ms = 0;            // after a failed upload, every firmware packet is refused this long
    bool dhcp = false;               // Status2 says the address came from DHCP
    uint32_t new_ip = 0;             // after a restart the fixture is at this address (DHCP); 0 = same
    std::string revert_report;       // NodeReport after a restart that kept the old version; empty = unchanged
    bool revert_rom = false;         // ... and Status1 says "booted from ROM"
    uint32_t jitter_min_ms = 0, jitter_max_ms = 0;  // every ArtFirmwareReply this much later, at random
    uint32_t again_ms = 0;           // every ArtFirmwareReply sent a second time this much after it; 0 = once
    bool lax = false;                // a new block is taken at the next position whatever its BlockId
    bool successor = false;          // answers at its bind address only once the fixture there has moved (new-ip)
};

// "a.b.c.d" to a host-order address.
bool parse_address(const std::string &text, uint32_t *address);
std::string format_address(uint32_t address);

// Decodes "\xNN" and "\\" escapes; any other text is taken as is.
bool unescape_bytes(const std::string &text, std::string *bytes);

// "SEL:ACTION[=ARG][*COUNT][@UPLOAD]", SEL one of a block index, first,
// last, middle, all; ACTION one of drop, lost, delay=MS,
// type=good|allgood|fail|N, proto=N, alt, oversize=N; or "reboot:old",
// "reboot:never"; COUNT a number or "all"; UPLOAD the upload it acts in.
bool parse_fault(const std::string &text, FaultRule *rule, std::string *error);

// One spec "key=value,..." to one or more fixtures (count=N plays N
// fixtures at consecutive addresses from bind). Appends to `fixtures`.
bool parse_fixture_spec(const std::string &spec, std::vector<FixtureConfig> *fixtures,
                        std::string *error);

// A config file: one spec per line; blank lines and lines starting with
// '#' are skipped. Errors name the line.
bool parse_config_text(const std::string &text, std::vector<FixtureConfig> *fixtures,
                       std::string *error);

// Whether rule `rule` applies to block `index` of an upload of
// `block_count` blocks.
bool fault_selects(const FaultRule &rule, uint32_t index, uint32_t block_count);

// The key reference printed by --help.
extern const char *const FIXTURE_KEYS_HELP;
