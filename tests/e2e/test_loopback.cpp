// lumiload uploads end to end on loopback, no root needed: the real program
// against the virtual fixture over real sockets. Row G binds lumiload to
// 127.32.G.1 and its fixture to 127.32.G.11 (alternate address 127.32.G.21),
// so the rows run side by side; every run names -s and -d, so nothing
// leaves loopback.
#include <gtest/gtest.h>

#include <future>

#include "harness.h"

namespace {

struct UploadRow {
    std::string spec;  // vfixture keys: {F} the fixture's address, {A} the alternate one
    uint32_t words;    // of the image's data
    std::string tail;  // the report from "    progress=" on
    std::string err;
    int status;
};

std::string address(size_t row, int host)
{
    return "127.32." + std::to_string(row) + "." + std::to_string(host);
}

TEST(Loopback, Upload)
{
    const std::string ok = "# Firmware uploaded successfully\n";
    const std::string failed = "Error: Firmware upload failed.\n";
    const std::vector<UploadRow> rows = {
        {"bind={F}", 0, "F LG\n" + ok, "", 0},      // the header alone: 1024 bytes, then 36
        {"bind={F}", 495, "F - LG\n" + ok, "", 0},  // the last block carries 2 bytes and 1022 zeros
        {"bind={F}", 1300, "F - - LG\n" + ok, "", 0},
        {"bind={F},fault=middle:drop", 1000, "F -T LG\n" + ok, "", 0},
        {"bind={F},fault=first:drop", 1000, "FT - LG\n" + ok, "", 0},
        {"bind={F},fault=last:delay=1000", 1000, "F - LG\n" + ok, "", 0},
        {"bind={F},fault=last:type=good", 1000, "F - L \n" + ok, "", 0},
        // Longer than the 36-byte buffer: lost, a failed receive with the platform's error number.
        {"bind={F},fault=middle:oversize=40", 1000, "F -T LG\n" + ok, "\n[WSA ERROR 90]\n", 0},
        {"bind={F},fault=middle:proto=13", 1000, "F -T LG\n" + ok, "    Reply has unexpected artnet protocol version\n", 0},
        {"bind={F},fault=middle:type=allgood", 1000, "F -B\n\n", "    Error: unexpected reply type=1\n" + failed, 1},
        {"bind={F},fault=first:type=allgood", 1000, "FB\n\n", "    Error: unexpected reply type=1\n" + failed, 1},
        {"bind={F},fault=middle:type=fail", 1000, "F -B\n\n", "    Error: unexpected reply type=255\n" + failed, 1},
        {"bind={F},fault=middle:drop*3", 1000, "F -TTT\n\n", failed, 1},
        {"bind={F},alt={A},fault=middle:alt*all", 1000, "F -TTT\n\n", failed, 1},  // replies from elsewhere
        // Polled at {F}, named {A} in its reply: the blocks go to {A}.
        {"bind={A},alt={F},poll-from=alt", 1000, "F - LG\n" + ok, "", 0},
    };
    const TempDir temp;
    const std::string &dir = temp.path;
    std::vector<std::future<std::string>> running;
    for (size_t i = 0; i < rows.size(); ++i) {
        running.push_back(std::async(std::launch::async, [&, i] {
            std::string spec = rows[i].spec;
            for (const auto &mark : {std::make_pair("{F}", 11), std::make_pair("{A}", 21)}) {
                for (size_t at; (at = spec.find(mark.first)) != std::string::npos;)
                    spec.replace(at, 3, address(i, mark.second));
            }
            const std::string image = dir + "/fw" + std::to_string(i) + ".alf";
            const std::string received = dir + "/got" + std::to_string(i) + ".alf";
            const std::vector<uint8_t> bytes = write_image(image, 1, 1, rows[i].words, i + 1);
            VirtualFixtures fixture;
            if (!fixture.start(dir, {spec + ",image=" + received}))
                return fixture.error;
            const ProcessResult r =
                run_program(bin_path("lumiload"), {"-f", image, "-s", address(i, 1), "-d", address(i, 11)});
            const std::string log = fixture.stop();
            // The fixture shown is the one at its bind address.
            const std::string block = fixture_block(spec.substr(5, spec.find(',') - 5), {{"upgradeStatus", "upgrade-required"}});
            std::string faults;
            if (r.out != update_report(image, bytes, block, rows[i].tail))
                faults += "report:\n" + r.out;
            if (r.err != rows[i].err || r.status != rows[i].status)
                faults += "status " + std::to_string(r.status) + ", errors:\n" + r.err;
            if (read_text_file(received) != (rows[i].status ? "" : std::string(bytes.begin(), bytes.end())))
                faults += "the fixture did not get the image as it is\n";
            if (count_lines(log, "error"))
                faults += "the fixture saw broken packets:\n" + log;
            return faults;
        }));
    }
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(running[i].get(), "") << "row " << i << ": " << rows[i].spec;
}

}  // namespace
