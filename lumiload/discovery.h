// Fixture discovery: one ArtPoll, then ArtPollReplies until the network
// has been quiet for 300 receive time-outs of 10 ms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "alf.h"
#include "packets.h"

// Whether an image fits a fixture and whether the fixture needs it.
enum class UpgradeStatus { Incompatible, UpgradeRequired, UpToDate };

struct PollTarget {
    uint32_t source;        // bind address, 0 = any (and no subnet test)
    uint32_t netmask;
    uint32_t destination;   // a broadcast address or one fixture
    bool stop_after_first;
    uint32_t broadcast = 0; // the interface's broadcast address, where one fixture may answer too; 0 = none
};

// Devices with different MACs that answered with one IP Address field; no
// upload goes to that address. `needed`: the image was for one of them.
struct AddressConflict {
    uint32_t address;
    std::vector<std::string> macs;  // in the order they answered
    bool needed;
};

// The verdict for a fixture with these codes and firmware version.
UpgradeStatus upgrade_status(const AlfHeader &header, uint16_t esta_code, uint16_t oem_code,
                             uint16_t fixture_version, bool ignore_version);

// Polls and reports every fixture; appends those that need the image to
// `fixtures` (emptied first) in the order their replies arrived. Replies
// from one IP Address field and MAC are one fixture (a node with several
// ports answers once per port); a second MAC at the same address is a
// conflict, reported when heard and kept in `conflicts`, and the address
// leaves `fixtures`. Returns false, with the reason reported, when the
// socket could not be prepared or the poll could not be sent.
bool run_poll(const PollTarget &target, AlfHeader header, bool ignore_version,
              std::vector<FixtureRecord> *fixtures, std::vector<AddressConflict> *conflicts = nullptr);
