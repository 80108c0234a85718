// A private test network: two network namespaces joined by a veth pair,
// made by the test and removed afterwards. The controller namespace holds
// veth0 (for example 2.0.0.1/8, broadcast 2.255.255.255); the fixtures
// namespace holds veth1 with every fixture address. Both have lo up. Nothing
// is sent outside them, so tests may broadcast freely inside.
//
// Needs root and iproute2. Names are "lumi-<pid>-<n>-c" and "lumi-<pid>-<n>-f",
// so parallel test processes never collide and stale pairs of dead
// processes can be found (scripts/netns.sh cleanup removes them).
//
//   NetnsPair net;
//   if (!net.create({"2.0.0.1/8"}, {"2.0.0.10/8", "2.0.0.11/8"}))
//       GTEST_SKIP() << net.error;
//   run_program(bin_path("lumiload"), {...}, 30, net.in_controller());
//   // the destructor (or destroy()) deletes both namespaces
#pragma once

#include <string>
#include <vector>

// Why namespace tests cannot run here ("" when they can): not root, no
// `ip`, or `ip netns add` refused.
std::string netns_unavailable_reason();

class NetnsPair {
public:
    NetnsPair() = default;
    NetnsPair(const NetnsPair &) = delete;
    NetnsPair &operator=(const NetnsPair &) = delete;
    ~NetnsPair();

    // Makes both namespaces, the veth pair and the addresses (CIDR texts,
    // each added with its broadcast address), routes each controller
    // prefix also through veth0, and fixes the neighbour entries so the
    // first packets do not wait for ARP. `extra_controller_routes` are
    // prefixes (e.g. "10.0.0.0/8") the controller reaches through veth0.
    // On failure removes what it made, sets `error` and returns false.
    bool create(const std::vector<std::string> &controller_addresses,
                const std::vector<std::string> &fixture_addresses,
                const std::vector<std::string> &extra_controller_routes = {});
    // Deletes both namespaces; safe to call twice.
    void destroy();

    // Adds more addresses to the fixtures' veth1 (one `ip -batch` call).
    bool add_fixture_addresses(const std::vector<std::string> &cidrs);

    // Prefixes for run_program / start_background: {"ip", "netns", "exec", name}.
    std::vector<std::string> in_controller() const;
    std::vector<std::string> in_fixtures() const;

    std::string controller;   // namespace names, empty until created
    std::string fixtures;
    std::string error;

private:
    bool batch(const std::string &ns, const std::vector<std::string> &commands);
    bool made_ = false;
};

// The iproute2 program, by absolute path when found.
std::string ip_program();
