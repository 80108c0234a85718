// lumiload uploads end to end on loopback, no root needed: the real program
// against the virtual fixture over real sockets. Row G binds lumiload to
// 127.32.G.1 and its fixture to 127.32.G.11 (alternate address 127.32.G.21),
// so the rows run side by side; every run names -s and -d, so nothing
// leaves loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

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

// Each kind of run twice against a fixture of its own, as text and with -j:
// every line is a JSON object, from the start to the one end object; the
// fixtures, event lines, error lines, summary (its CSV) and exit status
// are the text run's.
TEST(Loopback, JsonLinesAgreeWithTheTextReport)
{
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"", {}},  // poll only
        {",fault=middle:type=fail", {"-f", "IMG"}},
        {",fault=middle:drop", {"-f", "IMG", "-p", "2"}},
        {",reboot=300", {"-f", "IMG", "-c", "-w", "3"}},
        {",fault=reboot:old", {"-f", "IMG", "-p", "1", "-c"}},
    };
    const TempDir temp;
    write_image(temp.path + "/fw.alf", 1, 1, 1000);
    std::vector<std::future<std::string>> running;
    for (size_t i = 0; i < std::size(rows); ++i) {
        running.push_back(std::async(std::launch::async, [&, i] {
            const std::string fixture = address(40 + i, 11), csv = temp.path + "/" + std::to_string(i) + ".csv";
            std::vector<std::string> args = {"-s", address(40 + i, 1), "-d", fixture, "-o", csv};
            for (const std::string &arg : rows[i].second)
                args.push_back(arg == "IMG" ? temp.path + "/fw.alf" : arg);
            ProcessResult r[2];
            std::string text_csv, faults, types, text[2], errors[2];
            for (int json = 0; json < 2; ++json) {
                VirtualFixtures fixtures;
                if (!fixtures.start(temp.path, {"bind=" + fixture + rows[i].first}))
                    return fixtures.error;
                r[json] = run_program(bin_path("lumiload"), json ? (args.push_back("-j"), args) : args);
                text_csv = json ? text_csv : read_text_file(csv);
                std::istringstream lines(r[json].err);
                for (std::string line; std::getline(lines, line);)
                    errors[0] += line.empty() ? "" : line + "\n";
            }
            std::istringstream lines(r[1].out), text_lines(r[0].out);
            for (std::string line; std::getline(text_lines, line);)
                text[0] += line.rfind(fixture + " ", 0) == 0 || line.find("    upgradeStatus=") == 0 || line == "Fixture detected:" ? line + "\n" : "";
            for (std::string line; std::getline(lines, line);) {
                const nlohmann::json o = nlohmann::json::parse(line, nullptr, false);
                types += (o.is_object() ? o.value("type", "?") : "not JSON: " + line) + " ";
                auto value = [&](const nlohmann::json &of, const char *key) { return of[key].is_null() ? "-" : of[key].get<std::string>(); };
                text[1] += o["type"] == "fixture" ? "Fixture detected:\n" : "";
                if (o.contains("verdict") && !o["verdict"].is_null())
                    text[1] += "    upgradeStatus=" + value(o, "verdict") + "\n";
                if (o["type"] == "event" && o.contains("text") && std::count(args.begin(), args.end(), "-p"))
                    text[1] += value(o, "address") + " " + value(o, "text") + "\n";
                errors[1] += o["type"] == "error" ? value(o, "text") + "\n" : "";
                if (o["type"] == "end" && o["status"] != r[0].status)
                    faults += "status: " + line + "\n";
                for (const nlohmann::json &row : o["type"] == "end" ? o["summary"] : nlohmann::json::array())
                    text_csv = std::regex_replace(text_csv, std::regex(value(row, "address") + "," + value(row, "result") + "," +
                        value(row, "before") + "," + value(row, "after") + ",[0-9.]+," + std::to_string(row["retries"].get<int>()) + "\n"), "");
            }
            if (types.rfind("start ", 0) != 0 || types.find("end ") != types.size() - 4 || types.find("not JSON") != std::string::npos)
                faults += "objects: " + types + "\n" + r[1].out;
            if (text_csv != "address,result,before,after,seconds,retries\n")
                faults += "summary rows the JSON run lacks:\n" + text_csv + r[1].out;
            if (text[0] != text[1])
                faults += "events:\n" + text[1] + "text:\n" + r[0].out;
            if (errors[0] != errors[1] + errors[1])  // both runs' standard error, and the error objects
                faults += "errors:\n" + errors[1] + "text:\n" + r[0].err;
            return faults;
        }));
    }
    for (size_t i = 0; i < running.size(); ++i)
        EXPECT_EQ(running[i].get(), "") << "row " << i << ": " << rows[i].first;
}

}  // namespace

namespace {

// Finding a fixture: its indicators flash and are normal again, each time
// it answers; nothing else of it changes (the fixture logs an error for an
// ArtAddress that would change a setting). One that never answers fails.
TEST(Loopback, Locate)
{
    const TempDir dir;
    VirtualFixtures fixture;
    ASSERT_TRUE(fixture.start(dir.path, {"bind=127.32.90.11"})) << fixture.error;
    const struct {
        std::string target, says, err;
        int status;
    } rows[] = {
        {"127.32.90.11", "# Locating 127.32.90.11: its indicators flash until lumiload -L 127.32.90.11,off\nFixture detected:\n    ip=127.32.90.11\n", "", 0},
        {"127.32.90.11,off", "# Locate ended: the indicators of 127.32.90.11 are normal again\nFixture detected:\n", "", 0},
        {"127.32.90.12", "", "Error: 127.32.90.12 did not answer the locate request (ArtAddress)\n", 1},
        {"127.32.90.11,blink", "", "Error: invalid option value: -L 127.32.90.11,blink\n", 1},
    };
    for (const auto &row : rows) {
        const ProcessResult r = run_program(bin_path("lumiload"), {"-s", "127.32.90.1", "-L", row.target});
        EXPECT_NE(r.out.find(row.says), std::string::npos) << row.target << "\n" << r.out;
        EXPECT_EQ(r.err, row.err) << row.target;
        EXPECT_EQ(r.status, row.status) << row.target;
    }
    const std::string log = fixture.stop();
    EXPECT_NE(log.find("127.32.90.11: address from 127.32.90.1: locate on -> replied 239 bytes\n"
                       "127.32.90.11: address from 127.32.90.1: locate off -> replied 239 bytes\n"),
              std::string::npos) << log;
    EXPECT_EQ(log.find("error"), std::string::npos) << log;
}

}  // namespace
