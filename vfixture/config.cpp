#include "config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

const char *const FIXTURE_KEYS_HELP =
    "Fixture keys (SPEC is key=value,key=value,...; numbers may be decimal or 0x hex):\n"
    "  bind=A            address the fixture's socket binds (port 6454); required\n"
    "  count=N           play N fixtures at bind, bind+1, ... (default 1)\n"
    "  ip=A              IP Address field of the ArtPollReply (default: own bind address)\n"
    "  alt=A             second socket bound to A; receives like the first and is the\n"
    "                    source of poll-from=alt and of the 'alt' fault\n"
    "  bcast=A           also answer polls sent to broadcast address A (one listening\n"
    "                    socket per distinct address); destination of reply=broadcast\n"
    "  reply=unicast|broadcast   ArtPollReply to the poller (default) or to bcast\n"
    "                    (or, without bcast, to the bind address's /8 broadcast)\n"
    "  poll-from=bind|alt        socket the ArtPollReply is sent from (default bind)\n"
    "  poll-delay=MS     send the ArtPollReply MS milliseconds after the poll (Art-Net 4\n"
    "                    nodes wait a random time of up to 1 s; default 0)\n"
    "  version=X.Y.Z     firmware version as lumiload prints it: VersInfoH=X, VersInfoL=Y*10+Z\n"
    "  version-bytes=H:L raw VersInfoH and VersInfoL (default 1:0)\n"
    "  oem=N             OEM code (default 0x4d2a)\n"
    "  esta=N            ESTA manufacturer code (default 0x4d2a)\n"
    "  short=TEXT        ShortName, up to 18 bytes (escapes \\xNN and \\\\; a comma is \\x2c)\n"
    "  long=TEXT         LongName, up to 64 bytes (default \"Virtual fixture <bind>\")\n"
    "  report=TEXT       NodeReport, up to 64 bytes\n"
    "  mac=aa:bb:cc:dd:ee:ff     MAC (default 02:00 followed by the bind address)\n"
    "  length=N          bytes of ArtPollReply sent, 1..1024 (default 239; 207 is the least\n"
    "                    lumiload accepts)\n"
    "  image=PATH        where a completed upload is written (with count>1, '%a' in PATH\n"
    "                    is replaced by the fixture's address)\n"
    "  reboot=MS         after a completed upload the fixture restarts: it answers nothing\n"
    "                    for MS milliseconds, then reports the new version (default 0)\n"
    "  fault=SEL:ACTION[=ARG][*COUNT]   fault script, repeatable:\n"
    "        SEL     block index from 0, first, last, middle (blockCount/2, only when\n"
    "                blockCount >= 3) or all\n"
    "        ACTION  drop            no reply (the packet is treated as lost)\n"
    "                lost            the block is taken, but its reply is lost\n"
    "                delay=MS        reply MS milliseconds late\n"
    "                type=T          reply Type T: good (0), allgood (1), fail (255) or a number\n"
    "                proto=N         reply with ProtVerLo N (lumiload wants 14 or more)\n"
    "                alt             reply from the alt address\n"
    "                oversize=N      instead of the reply, N bytes that are no ArtFirmwareReply\n"
    "        COUNT   the first COUNT packets of that block in one upload, retries included\n"
    "                (default 1; 'all' = every packet)\n"
    "        @UPLOAD only in the fixture's UPLOAD-th upload (from 1; default every upload)\n"
    "  fault=reboot:old[*COUNT]     the restart after an upload brings the old version back\n"
    "  fault=reboot:never[*COUNT]   the fixture never answers again after an upload\n"
    "                    (COUNT: the first COUNT restarts; default 1)\n"
    "How other Art-Net stacks behave:\n"
    "  pad=N             every ArtFirmwareReply padded with zeros to N bytes (36..2048)\n"
    "  ports=N           N ArtPollReplies per poll, BindIndex 1..N (a node with N ports)\n"
    "  strict=1          a repeated FirmFirst, and any packet after a completed upload,\n"
    "                    is answered FirmFail\n"
    "  busy=MS           after a failed upload, every firmware packet is answered FirmFail\n"
    "                    for MS milliseconds (the node's own transfer time-out)\n"
    "  dhcp=1            Status2 says the address came from DHCP\n"
    "  new-ip=A          after its restart the fixture answers at A (bound from the start;\n"
    "                    implies dhcp=1)\n"
    "  revert-report=TEXT  NodeReport after a restart that kept the old version\n"
    "  revert-rom=1      ... with Status1's \"booted from ROM\" bit\n"
    "  jitter=MIN:MAX    every ArtFirmwareReply MIN to MAX ms late, at random (a busy network)\n"
    "  again=MS          every ArtFirmwareReply sent a second time MS ms after it (a late\n"
    "                    duplicate, as a looped or retransmitting link makes)\n"
    "  lax=1             the BlockId is not checked: a new FirmCont is stored at the next\n"
    "                    position whatever its BlockId, a FirmLast ends the upload wherever it\n"
    "                    comes (positions never written stay zero); a packet with the BlockId\n"
    "                    and Type of the block just taken is a repeat of it\n"
    "  successor=1       another device at the bind address of an earlier fixture with new-ip=:\n"
    "                    silent until that fixture has restarted onto its new address, then\n"
    "                    it answers there (its DHCP server gave it the freed address; give it\n"
    "                    its own mac=; it hears only that address)\n";

bool parse_address(const std::string &text, uint32_t *address)
{
    unsigned parts[4];
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4)
        return false;
    uint32_t value = 0;
    for (unsigned part : parts) {
        if (part > 255)
            return false;
        value = value << 8 | part;
    }
    *address = value;
    return true;
}

std::string format_address(uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

static bool parse_number(const std::string &text, unsigned long max, unsigned long *value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char *end = nullptr;
    errno = 0;
    unsigned long parsed = std::strtoul(text.c_str(), &end, 0);
    if (errno || *end || parsed > max)
        return false;
    *value = parsed;
    return true;
}

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool unescape_bytes(const std::string &text, std::string *bytes)
{
    bytes->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes->push_back(text[i]);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            bytes->push_back('\\');
            ++i;
            continue;
        }
        if (i + 3 < text.size() && text[i + 1] == 'x' && hex_digit(text[i + 2]) >= 0 &&
            hex_digit(text[i + 3]) >= 0) {
            bytes->push_back(static_cast<char>(hex_digit(text[i + 2]) * 16 + hex_digit(text[i + 3])));
            i += 3;
            continue;
        }
        return false;
    }
    return true;
}

bool parse_fault(const std::string &text, FaultRule *rule, std::string *error)
{
    FaultRule parsed;
    size_t colon = text.find(':');
    if (colon == std::string::npos) {
        *error = "fault '" + text + "': expected SEL:ACTION";
        return false;
    }
    std::string select = text.substr(0, colon);
    std::string action = text.substr(colon + 1);
    unsigned long n = 0;
    if (select == "first") {
        parsed.select = FaultRule::Select::First;
    } else if (select == "last") {
        parsed.select = FaultRule::Select::Last;
    } else if (select == "middle") {
        parsed.select = FaultRule::Select::Middle;
    } else if (select == "all") {
        parsed.select = FaultRule::Select::All;
    } else if (select == "reboot") {
        parsed.select = FaultRule::Select::Reboot;
    } else if (parse_number(select, 0xFFFFFFFF, &n)) {
        parsed.select = FaultRule::Select::Index;
        parsed.index = static_cast<uint32_t>(n);
    } else {
        *error = "fault '" + text + "': unknown block selector '" + select + "'";
        return false;
    }

    size_t at = action.find('@');
    if (at != std::string::npos) {
        if (!parse_number(action.substr(at + 1), 0xFFFFFFFF, &n) || n == 0) {
            *error = "fault '" + text + "': bad upload '" + action.substr(at + 1) + "'";
            return false;
        }
        parsed.upload = static_cast<uint32_t>(n);
        action.resize(at);
    }
    size_t star = action.find('*');
    if (star != std::string::npos) {
        std::string count = action.substr(star + 1);
        action.resize(star);
        if (count == "all") {
            parsed.count = 0;
        } else if (parse_number(count, 0xFFFFFFFF, &n) && n > 0) {
            parsed.count = static_cast<uint32_t>(n);
        } else {
            *error = "fault '" + text + "': bad count '" + count + "'";
            return false;
        }
    }

    std::string name = action, argument;
    size_t equals = action.find('=');
    bool has_argument = equals != std::string::npos;
    if (has_argument) {
        name = action.substr(0, equals);
        argument = action.substr(equals + 1);
    }
    bool ok = true;
    const bool reboot = parsed.select == FaultRule::Select::Reboot;
    if (reboot && (name == "old" || name == "never") && !has_argument) {
        parsed.action = name == "old" ? FaultRule::Action::Old : FaultRule::Action::Never;
    } else if (reboot) {
        *error = "fault '" + text + "': a reboot fault is old or never";
        return false;
    } else if (name == "drop" && !has_argument) {
        parsed.action = FaultRule::Action::Drop;
    } else if (name == "lost" && !has_argument) {
        parsed.action = FaultRule::Action::Lost;
    } else if (name == "alt" && !has_argument) {
        parsed.action = FaultRule::Action::FromAlt;
    } else if (name == "delay" && has_argument) {
        parsed.action = FaultRule::Action::Delay;
        ok = parse_number(argument, 600000, &n);
        parsed.value = static_cast<uint32_t>(n);
    } else if (name == "type" && has_argument) {
        parsed.action = FaultRule::Action::Type;
        if (argument == "good")
            n = 0;
        else if (argument == "allgood")
            n = 1;
        else if (argument == "fail")
            n = 255;
        else
            ok = parse_number(argument, 255, &n);
        parsed.value = static_cast<uint32_t>(n);
    } else if (name == "proto" && has_argument) {
        parsed.action = FaultRule::Action::Protocol;
        ok = parse_number(argument, 255, &n);
        parsed.value = static_cast<uint32_t>(n);
    } else if (name == "oversize" && has_argument) {
        parsed.action = FaultRule::Action::Oversize;
        ok = parse_number(argument, 65000, &n) && n > 0;
        parsed.value = static_cast<uint32_t>(n);
    } else {
        *error = "fault '" + text + "': unknown action '" + action + "'";
        return false;
    }
    if (!ok) {
        *error = "fault '" + text + "': bad argument '" + argument + "'";
        return false;
    }
    *rule = parsed;
    return true;
}

bool fault_selects(const FaultRule &rule, uint32_t index, uint32_t block_count)
{
    switch (rule.select) {
    case FaultRule::Select::Index:
        return index == rule.index;
    case FaultRule::Select::First:
        return index == 0;
    case FaultRule::Select::Last:
        return block_count > 0 && index == block_count - 1;
    case FaultRule::Select::Middle:
        return block_count >= 3 && index == block_count / 2;
    case FaultRule::Select::All:
        return true;
    case FaultRule::Select::Reboot:
        return false;  // not a block
    }
    return false;
}

static bool parse_mac(const std::string &text, uint8_t mac[6])
{
    unsigned parts[6];
    char tail;
    if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &parts[4], &parts[5], &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        if (parts[i] > 255)
            return false;
        mac[i] = static_cast<uint8_t>(parts[i]);
    }
    return true;
}

static bool parse_version(const std::string &text, uint8_t *hi, uint8_t *lo)
{
    unsigned major, minor, patch;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &patch, &tail) != 3 || major > 255 ||
        patch > 9 || minor > 25 || minor * 10 + patch > 255)
        return false;
    *hi = static_cast<uint8_t>(major);
    *lo = static_cast<uint8_t>(minor * 10 + patch);
    return true;
}

static bool parse_version_bytes(const std::string &text, uint8_t *hi, uint8_t *lo)
{
    size_t colon = text.find(':');
    unsigned long h = 0, l = 0;
    if (colon == std::string::npos || !parse_number(text.substr(0, colon), 255, &h) ||
        !parse_number(text.substr(colon + 1), 255, &l))
        return false;
    *hi = static_cast<uint8_t>(h);
    *lo = static_cast<uint8_t>(l);
    return true;
}

static std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool parse_fixture_spec(const std::string &spec, std::vector<FixtureConfig> *fixtures,
                        std::string *error)
{
    FixtureConfig config;
    bool bind_given = false;
    unsigned long count = 1;

    std::stringstream items(spec);
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item.empty())
            continue;
        size_t equals = item.find('=');
        if (equals == std::string::npos) {
            *error = "'" + item + "': expected key=value";
            return false;
        }
        std::string key = item.substr(0, equals);
        std::string value = item.substr(equals + 1);
        unsigned long n = 0;
        bool ok = true;
        if (key == "bind") {
            ok = parse_address(value, &config.bind);
            bind_given = ok;
        } else if (key == "count") {
            ok = parse_number(value, 65536, &count) && count > 0;
        } else if (key == "ip") {
            ok = parse_address(value, &config.ip_field);
        } else if (key == "alt") {
            ok = parse_address(value, &config.alt);
        } else if (key == "bcast") {
            ok = parse_address(value, &config.broadcast);
        } else if (key == "reply") {
            ok = value == "unicast" || value == "broadcast";
            config.reply = value == "broadcast" ? ReplyMode::Broadcast : ReplyMode::Unicast;
        } else if (key == "poll-from") {
            ok = value == "bind" || value == "alt";
            config.poll_reply_from_alt = value == "alt";
        } else if (key == "poll-delay") {
            ok = parse_number(value, 600000, &n);
            config.poll_delay_ms = static_cast<uint32_t>(n);
        } else if (key == "version") {
            ok = parse_version(value, &config.version_hi, &config.version_lo);
        } else if (key == "version-bytes") {
            ok = parse_version_bytes(value, &config.version_hi, &config.version_lo);
        } else if (key == "oem") {
            ok = parse_number(value, 0xFFFF, &n);
            config.oem = static_cast<uint16_t>(n);
        } else if (key == "esta") {
            ok = parse_number(value, 0xFFFF, &n);
            config.esta = static_cast<uint16_t>(n);
        } else if (key == "short") {
            ok = unescape_bytes(value, &config.short_name) && config.short_name.size() <= 18;
        } else if (key == "long") {
            ok = unescape_bytes(value, &config.long_name) && config.long_name.size() <= 64;
            config.long_name_given = true;
        } else if (key == "report") {
            ok = unescape_bytes(value, &config.node_report) && config.node_report.size() <= 64;
        } else if (key == "mac") {
            ok = parse_mac(value, config.mac);
            config.mac_given = true;
        } else if (key == "length") {
            ok = parse_number(value, 1024, &n) && n > 0;
            config.reply_length = static_cast<uint32_t>(n);
        } else if (key == "reboot") {
            ok = parse_number(value, 600000, &n);
            config.reboot_ms = static_cast<uint32_t>(n);
        } else if (key == "image") {
            config.image_path = value;
        } else if (key == "pad") {
            ok = parse_number(value, 2048, &n) && n >= 36;
            config.pad_replies = static_cast<uint32_t>(n);
        } else if (key == "ports") {
            ok = parse_number(value, 255, &n) && n > 0;
            config.ports = static_cast<uint32_t>(n);
        } else if (key == "strict" || key == "dhcp" || key == "revert-rom" || key == "lax" || key == "successor") {
            ok = value == "0" || value == "1";
            (key == "strict" ? config.strict : key == "dhcp" ? config.dhcp : key == "lax" ? config.lax
                : key == "successor" ? config.successor : config.revert_rom) = value == "1";
        } else if (key == "again") {
            ok = parse_number(value, 600000, &n) && n > 0;
            config.again_ms = static_cast<uint32_t>(n);
        } else if (key == "jitter") {
            unsigned long low = 0, high = 0;
            const size_t colon = value.find(':');
            ok = colon != std::string::npos && parse_number(value.substr(0, colon), 600000, &low) &&
                 parse_number(value.substr(colon + 1), 600000, &high) && low <= high;
            config.jitter_min_ms = static_cast<uint32_t>(low);
            config.jitter_max_ms = static_cast<uint32_t>(high);
        } else if (key == "busy") {
            ok = parse_number(value, 600000, &n);
            config.busy_ms = static_cast<uint32_t>(n);
        } else if (key == "new-ip") {
            ok = parse_address(value, &config.new_ip);
            config.dhcp = true;
        } else if (key == "revert-report") {
            ok = unescape_bytes(value, &config.revert_report) && config.revert_report.size() <= 64;
        } else if (key == "fault") {
            FaultRule rule;
            if (!parse_fault(value, &rule, error))
                return false;
            config.faults.push_back(rule);
        } else {
            *error = "unknown key '" + key + "'";
            return false;
        }
        if (!ok) {
            *error = "bad value for " + key + ": '" + value + "'";
            return false;
        }
    }
    if (!bind_given) {
        *error = "fixture '" + spec + "' has no bind address";
        return false;
    }
    if (config.poll_reply_from_alt && config.alt == 0) {
        *error = "poll-from=alt needs alt=ADDRESS";
        return false;
    }
    for (const FaultRule &rule : config.faults) {
        if (rule.action == FaultRule::Action::FromAlt && config.alt == 0) {
            *error = "the alt fault needs alt=ADDRESS";
            return false;
        }
    }
    if (config.bind + static_cast<uint64_t>(count - 1) > 0xFFFFFFFF) {
        *error = "count=" + std::to_string(count) + " runs past 255.255.255.255";
        return false;
    }
    if (count > 1 && (config.alt != 0 || config.new_ip != 0 || config.successor)) {
        *error = "alt, new-ip and successor cannot be combined with count";
        return false;
    }

    for (unsigned long i = 0; i < count; ++i) {
        FixtureConfig one = config;
        one.bind = config.bind + static_cast<uint32_t>(i);
        if (config.ip_field == 0)
            one.ip_field = one.bind;
        if (!config.long_name_given)
            one.long_name = "Virtual fixture " + format_address(one.bind);
        if (!config.mac_given) {
            one.mac[0] = 0x02;
            one.mac[1] = 0x00;
            for (int b = 0; b < 4; ++b)
                one.mac[2 + b] = static_cast<uint8_t>(one.bind >> (24 - 8 * b));
        }
        if (count > 1)
            one.image_path = replace_all(config.image_path, "%a", format_address(one.bind));
        fixtures->push_back(one);
    }
    return true;
}

bool parse_config_text(const std::string &text, std::vector<FixtureConfig> *fixtures,
                       std::string *error)
{
    std::stringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '#')
            continue;
        size_t end = line.find_last_not_of(" \t\r");
        std::string spec = line.substr(start, end - start + 1);
        std::string why;
        if (!parse_fixture_spec(spec, fixtures, &why)) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    return true;
}
