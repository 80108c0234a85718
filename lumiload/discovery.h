// Fixture discovery: one ArtPoll, then ArtPollReplies until the network
// has been quiet for 300 receive time-outs of 10 ms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "alf.h"
#include "packets.h"

// Whether an image fits a fixture and whether the fixture needs it.
// With a library, Ambiguous: two different images of the best version fit.
enum class UpgradeStatus { Incompatible, UpgradeRequired, UpToDate, Ambiguous };

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

// The verdict of what a run offers: no image (a listing: nullptr), one
// image, or a library, whose image for the fixture is choose_image's.
UpgradeStatus offer_status(const std::vector<AlfHeader> &images, uint16_t esta_code, uint16_t oem_code,
                           uint16_t fixture_version, bool ignore_version);

// Polls and reports every fixture with the verdict of `images` (none: a
// listing); appends those that need an image to `fixtures` (emptied first)
// in the order their replies arrived, and with `heard` every fixture.
// Replies from one IP Address field and MAC are one fixture (a node with
// several ports answers once per port); a second MAC at the same address
// is a conflict, reported when heard and kept in `conflicts`, and the
// address leaves `fixtures`. Returns false, with the reason reported,
// when the socket could not be prepared or the poll could not be sent.
bool run_poll(const PollTarget &target, const std::vector<AlfHeader> &images, bool ignore_version,
              std::vector<FixtureRecord> *fixtures, std::vector<AddressConflict> *conflicts = nullptr,
              std::vector<FixtureRecord> *heard = nullptr);
