// Shared pieces of the end-to-end tests: a virtual fixture process, test
// images, lumiload runs and the exact report lines they should print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "alfgen.h"
#include "process.h"

// A vfixture process playing the fixtures of `specs` (one --fixture each),
// optionally inside a namespace (`prefix` from NetnsPair). Its event lines
// go to a log file in `dir`.
class VirtualFixtures {
public:
    VirtualFixtures() = default;
    VirtualFixtures(const VirtualFixtures &) = delete;
    VirtualFixtures &operator=(const VirtualFixtures &) = delete;
    ~VirtualFixtures();

    // Starts it and waits (at most 10 s) for its "ready" line. On failure
    // the reason and the log are in `error`.
    bool start(const std::string &dir, const std::vector<std::string> &specs,
               const std::vector<std::string> &prefix = {}, const std::string &name = "vfixture");
    // Stops it (SIGTERM, by its PID) and returns the whole log.
    std::string stop();
    std::string log() const;

    std::string error;

private:
    BackgroundProcess process_;
    std::string log_path_;
};

// A test image, written to `path`; returns its bytes.
std::vector<uint8_t> write_image(const std::string &path, const AlfImageSpec &spec);
AlfImageSpec image_spec(uint8_t version_hi, uint8_t version_lo, uint32_t words, uint32_t seed = 1);

ProcessResult run_lumiload(const std::vector<std::string> &args, const std::vector<std::string> &prefix = {},
                           double timeout_seconds = 60);

// Exact report pieces, each ending with its line feed.
std::string banner();
std::string no_alf_line();
std::string separator();
// "Opened ALF file PATH: " and the header block of the image `bytes`.
std::string header_report(const std::string &path, const std::vector<uint8_t> &bytes);
uint32_t block_count(const std::vector<uint8_t> &bytes);

struct FixtureLines {
    std::string ip;
    std::string mac;
    std::string esta = "0x4d2a";
    std::string oem = "0x4d2a";
    std::string version = "1.0.0";
    std::string port_name = "vfixture";
    std::string long_name;
    std::string status;   // "" = no upgradeStatus line (poll-only runs)
};
// vfixture's defaults for a fixture bound to `address`.
FixtureLines default_fixture(const std::string &address, const std::string &status = "");
std::string fixture_block(const FixtureLines &fixture);

// Whole update report of a run with one fixture: header, discovery, count
// and the upload section ending with `upload_tail` (from "    progress=").
std::string update_report(const std::string &image_path, const std::vector<uint8_t> &bytes,
                          const FixtureLines &fixture, const std::string &upload_tail);

// The fixture blocks of a report, in the order printed.
std::vector<std::string> fixture_blocks(const std::string &out);

// Lines of `text` that contain `needle`.
std::vector<std::string> lines_with(const std::string &text, const std::string &needle);

// A loopback address in the test's own block, so parallel tests never share
// an address: 127.<test>.<group>.<host>.
std::string loopback(int test, int group, int host);
