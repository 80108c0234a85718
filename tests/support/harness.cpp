#include "harness.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <sstream>

#include "alfgen.h"

const std::string BANNER = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\n";
static const std::string HELP =
    "Parameters:\n"
    "    File:                  -f [fw.alf]    (skip to only perform fixture detection without update)\n"
    "    Destination IP:        -d [x.x.x.x]   (skip to detect connected fixtures)\n"
    "    Source IP:             -s [0.0.0.0]   (skip to choose automatically)\n"
    "    Multi-fixture upload:  -m\n"
    "    Ignore version check:  -i\n"
    "    Test run:              -t             (specify to prevent actual programming taking place)\n"
    "    Show help message:     -h\n"
    "    Parallel upload:       -p [N]         (update up to N fixtures at once; implies -m)\n"
    "    Fixtures to update:    -u [a,b,...]   (skip to update every fixture that needs the image)\n"
    "    Confirm new version:   -c             (wait for each fixture's restart and check its version)\n"
    "    Stop after failures:   -k [K]         (start no more uploads once K fixtures have failed)\n"
    "    Summary as CSV:        -o [file.csv]\n"
    "    Restart wait:          -w [60]        (seconds a fixture may take to come back, with -c)\n"
    "    JSON Lines report:     -j             (one JSON object per line on standard output, for scripts)\n"
    "    Retries:               -r [N]         (try a fixture that failed up to N more times, after its own time-out)\n"
    "    Stop on input:         -S             (start no more uploads after a line \"stop\" on standard input)\n"
    "    Firmware library:      -l [folder]    (each fixture gets the newest image of the folder that fits it; not with -f)\n"
    "    Test group first:      -n [N]         (update and confirm the first N fixtures before the others; implies -c)\n"
    "    Resume:                -u @[file.csv] (the fixtures a summary file of -o names as not updated)\n"
    "    Locate a fixture:      -L [x.x.x.x]   (its indicators flash; -L x.x.x.x,off ends it)\n"
    "    Network check:         -N             (interfaces, port 6454, the fixtures that answer and their troubles)\n";
const std::string NO_ALF = "# No ALF file supplied with -f, performing fixture poll without update.\n";
const std::string SEPARATOR = "########################################\n";

static std::string hex4(unsigned value)
{
    char text[8];
    return std::string(text, std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFF));
}

std::string header_report(const std::string &path, const std::vector<uint8_t> &b)
{
    std::string name, oem;
    for (int i = 4; i < 34 && b[i]; ++i)
        name += static_cast<char>(b[i]);
    for (int slot = 34; slot < 546; slot += 2) {
        if (b[slot] || b[slot + 1])
            oem += hex4(b[slot] << 8 | b[slot + 1]) + " ";
    }
    const uint32_t words = static_cast<uint32_t>(b[1056]) << 24 | b[1057] << 16 | b[1058] << 8 | b[1059];
    return "Opened ALF file " + path + ": \n    name=" + name + "\n    version=" + std::to_string(b[2]) + "." +
           std::to_string(b[3] / 10) + "." + std::to_string(b[3] % 10) + "\n    data_checksum=" +
           hex4(b[0] << 8 | b[1]) + "\n    data_length=" + std::to_string(words) + "W\n    oemCodes=< " + oem +
           ">\n    blockCount=" + std::to_string((b.size() + 1023) / 1024) + "\n";
}

std::string fixture_block(const std::string &address, const std::map<std::string, std::string> &changes)
{
    unsigned a[4] = {};
    std::sscanf(address.c_str(), "%u.%u.%u.%u", &a[0], &a[1], &a[2], &a[3]);
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:00:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3]);
    std::map<std::string, std::string> values = {{"ip", address}, {"mac", mac}, {"estaMan", "0x4d2a"},
                                                 {"oemCode", "0x4d2a"}, {"version", "1.0.0"},
                                                 {"portName", "vfixture"}, {"longName", "Virtual fixture " + address}};
    for (const auto &change : changes)
        values[change.first] = change.second;
    std::string block = "Fixture detected:\n";
    for (const char *key : {"ip", "mac", "estaMan", "oemCode", "version", "portName", "longName", "upgradeStatus"}) {
        if (values.count(key))
            block += std::string("    ") + key + "=" + values[key] + "\n";
    }
    return block;
}

std::string update_report(const std::string &path, const std::vector<uint8_t> &bytes, const std::string &block,
                          const std::string &tail)
{
    const size_t ip = block.find("ip=") + 3;
    return BANNER + header_report(path, bytes) + SEPARATOR + block + "\n1 fixtures to update\n" + SEPARATOR +
           "Uploading to fixture at " + block.substr(ip, block.find('\n', ip) - ip) + ":\n    blockCount=" +
           std::to_string((bytes.size() + 1023) / 1024) + "\n    progress=" + tail;
}

size_t count_lines(const std::string &text, const std::string &needle)
{
    std::istringstream lines(text);
    size_t count = 0;
    for (std::string line; std::getline(lines, line);)
        count += line.find(needle) != std::string::npos;
    return count;
}

std::vector<uint8_t> write_image(const std::string &path, uint8_t version_hi, uint8_t version_lo, uint32_t words,
                                 uint32_t seed)
{
    AlfImageSpec spec;
    spec.version_hi = version_hi;
    spec.version_lo = version_lo;
    spec.name = "E2E image";
    spec.oem_slots = {0x4D2A};
    spec.data = pseudo_random_data(words, seed);
    const std::vector<uint8_t> bytes = make_alf_image(spec);
    write_binary_file(path, bytes);
    return bytes;
}

std::vector<OfflineCase> offline_cases(const std::string &dir)
{
    AlfImageSpec wash;
    wash.name = "Wash";
    wash.version_hi = 2;
    wash.version_lo = 0xFF;
    wash.oem_slots = {0x0012, 0x0000, 0x0034};
    wash.data = {0x01, 0x02};
    std::vector<uint8_t> longer = make_alf_image(wash), huge = make_alf_image(AlfImageSpec());
    longer.push_back(0);
    wash.bad_checksum = true;
    huge[1056] = 0x80;  // 2^31 words: the expected size needs 33 bits
    AlfImageSpec named;
    named.name = std::string("Evil\nFixture detected:\x7f\x01NNNNNN", 30);  // fills the field: no terminator
    std::vector<uint8_t> names = make_alf_image(named);
    names[34] = 0x41;  // the first OEM slot follows the name directly
    names[35] = 0x42;
    names.push_back(0);
    const std::pair<const char *, std::vector<uint8_t>> files[] = {
        {"short", std::vector<uint8_t>(100, 0)}, {"long", longer}, {"bad", make_alf_image(wash)},
        {"huge", huge}, {"names", names}, {"empty", make_alf_image(AlfImageSpec())}};
    for (const auto &file : files)
        write_binary_file(dir + "/" + file.first + ".alf", file.second);

    auto header = [](const std::string &file, const std::string &name, const std::string &version,
                     const std::string &checksum, const std::string &words, const std::string &oem, const std::string &blocks) {
        return BANNER + "Opened ALF file " + file + ": \n    name=" + name + "\n    version=" + version +
               "\n    data_checksum=" + checksum + "\n    data_length=" + words + "W\n    oemCodes=< " + oem +
               ">\n    blockCount=" + blocks + "\n";
    };
    const std::string length = "Error: ALF file length does not agree with header ";
    std::vector<OfflineCase> cases = {
        {"help wins over -t", {"-t", "-h"}, BANNER + HELP, "", 0, true},
        {"option without its value", {"-f"}, BANNER + HELP, "", 0, false},
        {"option value that cannot be used", {"-t", "-p", "0"}, BANNER, "Error: invalid option value: -p 0\n", 1, true},
        {"summary file that cannot be written", {"-o", "missing/rig.csv", "-f", "empty.alf"},
         header("empty.alf", "Test image", "1.0.0", "0xffff", "0", "", "2") + SEPARATOR,
         "Error: failed to open summary file at missing/rig.csv\n", 1, true},
        {"missing file in a test run", {"-t", "-f", "missing.alf"}, BANNER + "# TEST RUN MODE\n",
         "Error: failed to open ALF file at missing.alf\n", 1, true},
        {"shorter than a header", {"-f", "short.alf"}, BANNER + "Opened ALF file short.alf: \n",
         "Error: Failed to read ALF header data\n", 1, true},
        {"one byte too long", {"-f", "long.alf"}, header("long.alf", "Wash", "2.25.5", "0xfdfe", "1", "0x0012 0x0034 ", "2"),
         length + "(expected=1062B actual=1063B)\n", 1, true},
        {"wrong checksum", {"-f", "bad.alf"}, header("bad.alf", "Wash", "2.25.5", "0x0201", "1", "0x0012 0x0034 ", "2"),
         "Error: data checksum is invalid (expected=0x0201 actual=0xfdfe)\n", 1, true},
        {"length beyond 32 bits", {"-f", "huge.alf"}, header("huge.alf", "Test image", "1.0.0", "0xffff", "2147483648", "", "4194306"),
         length + "(expected=4294968356B actual=1060B)\n", 1, true},
        {"names made safe", {"-f", "names.alf"},
         header("names.alf", "Evil?Fixture detected:??NNNNNN", "1.0.0", "0xffff", "0", "0x4142 ", "2"),
         length + "(expected=1060B actual=1061B)\n", 1, true},
        // Accepted: the run goes on to its socket, which this test program holds.
        {"accepted image", {"-f", "empty.alf"}, header("empty.alf", "Test image", "1.0.0", "0xffff", "0", "", "2") + SEPARATOR,
         "Error: Failed to bind UDP socket: Address already in use\n    Port 6454 is in use by " +
             std::string(program_invocation_short_name) + " (pid " + std::to_string(getpid()) + ").\nError: run_poll failed\n",
         1, false},
    };
    // Loopback only, should a run get past its checks by mistake.
    for (OfflineCase &c : cases)
        c.args.insert(c.args.begin(), {"-s", "127.0.61.1", "-d", "127.0.61.1"});
    return cases;
}

bool VirtualFixtures::start(const std::string &dir, const std::vector<std::string> &specs,
                            const std::vector<std::string> &prefix)
{
    static std::atomic<int> logs{0};
    log_path_ = dir + "/vfixture-" + std::to_string(logs++) + ".log";
    std::vector<std::string> argv = prefix;
    argv.push_back(bin_path("vfixture"));
    for (const std::string &spec : specs)
        argv.insert(argv.end(), {"--fixture", spec});
    pid_ = start_background(argv, log_path_);
    for (int i = 0; i < 1000 && pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i, usleep(10000)) {
        if (log().find("\nready ") != std::string::npos)
            return true;
    }
    error = "vfixture did not become ready:\n" + stop();
    return false;
}

std::string VirtualFixtures::stop()
{
    stop_background(pid_);
    pid_ = -1;
    return log();
}

Netns::~Netns()
{
    if (!name.empty())
        run_program("bash", {LUMI_NETNS_SCRIPT, "down", name}, 30);
}

bool Netns::up(const std::string &controller_cidr, const std::vector<std::string> &fixture_cidrs)
{
    static std::atomic<int> pairs{0};
    name = "lumi-" + std::to_string(getpid()) + "-" + std::to_string(pairs++);
    std::vector<std::string> args = {LUMI_NETNS_SCRIPT, "up", name, controller_cidr};
    args.insert(args.end(), fixture_cidrs.begin(), fixture_cidrs.end());
    const ProcessResult result = run_program("bash", args, 60);
    error = result.err;
    return result.status == 0;
}

bool Netns::batch(const std::string &side, const std::string &ip_commands)
{
    const TempDir dir;
    write_text_file(dir.path + "/ip.batch", ip_commands);
    const ProcessResult result = run_program("ip", {"-n", name + "-" + side, "-batch", dir.path + "/ip.batch"}, 60);
    error = result.err;
    return result.status == 0;
}

std::string netns_unavailable_reason()
{
    if (geteuid() != 0)
        return "network namespace tests need root (ip netns); CI runs the suite as root";
    const std::string probe = "lumi-" + std::to_string(getpid()) + "-probe";
    const ProcessResult add = run_program("ip", {"netns", "add", probe}, 10);
    run_program("ip", {"netns", "del", probe}, 10);
    return add.status == 0 ? "" : "'ip netns add' failed: " + add.err;
}
