// What the tests of the real programs share: report texts of the Linux build,
// test images, runs that end before the network, the virtual fixture, and
// private network namespaces.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "process.h"

extern const std::string BANNER;     // each with its line feed
extern const std::string NO_ALF;
extern const std::string SEPARATOR;

// "Opened ALF file PATH: " and the header block of the image `bytes`.
std::string header_report(const std::string &path, const std::vector<uint8_t> &bytes);

// The block of a vfixture fixture bound to `address` with its defaults,
// changed by `changes` (key to value; "upgradeStatus" adds that line).
std::string fixture_block(const std::string &address, const std::map<std::string, std::string> &changes = {});

// The report of an update run that found one fixture, `block`, up to
// "    progress=", followed by `tail`.
std::string update_report(const std::string &path, const std::vector<uint8_t> &bytes, const std::string &block,
                          const std::string &tail);

size_t count_lines(const std::string &text, const std::string &needle);

// An image of `words` pseudo-random data words for the maker's OEM code.
std::vector<uint8_t> write_image(const std::string &path, uint8_t version_hi, uint8_t version_lo, uint32_t words,
                                 uint32_t seed = 1);

// Runs that end before the network and what the Linux build prints for
// them; the images are written into `dir`, the runs are made there. Rows
// marked `windows` are run by the Windows build too.
struct OfflineCase {
    std::string name;
    std::vector<std::string> args;
    std::string out, err;
    int status;
    bool windows;
};
std::vector<OfflineCase> offline_cases(const std::string &dir);

// One vfixture process playing `specs` (one --fixture each) through
// `prefix` (a namespace), its events logged in `dir`. start() waits up to
// 10 s for "ready" and otherwise puts the log in `error`.
class VirtualFixtures {
public:
    ~VirtualFixtures() { stop(); }
    bool start(const std::string &dir, const std::vector<std::string> &specs,
               const std::vector<std::string> &prefix = {});
    std::string stop();  // by PID; returns the log
    std::string log() const { return read_text_file(log_path_); }
    int pid() const { return pid_; }
    std::string error;

private:
    int pid_ = -1;
    std::string log_path_;
};

// Two namespaces joined by a veth pair, made and deleted by scripts/netns.sh:
// NAME-c (side "c") holds the controller's address on veth0, NAME-f (side
// "f") the fixtures' addresses on veth1.
struct Netns {
    ~Netns();
    bool up(const std::string &controller_cidr, const std::vector<std::string> &fixture_cidrs);
    bool batch(const std::string &side, const std::string &ip_commands);  // iproute2 batch lines
    // Not "ip netns exec": its mount namespace's teardown can hold a run's end for seconds.
    std::vector<std::string> in(const std::string &side) const { return {"nsenter", "--net=/var/run/netns/" + name + "-" + side}; }
    std::string name, error;
};

// Why namespaces cannot be made here (not root, no iproute2), or "".
std::string netns_unavailable_reason();
