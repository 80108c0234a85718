#include "e2e_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <sstream>
#include <thread>

VirtualFixtures::~VirtualFixtures()
{
    stop();
}

bool VirtualFixtures::start(const std::string &dir, const std::vector<std::string> &specs,
                            const std::vector<std::string> &prefix, const std::string &name)
{
    log_path_ = dir + "/" + name + ".log";
    std::vector<std::string> argv = prefix;
    argv.push_back(bin_path("vfixture"));
    for (const std::string &spec : specs) {
        argv.push_back("--fixture");
        argv.push_back(spec);
    }
    process_ = start_background(argv, log_path_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string text = log();
        if (text.find("\nready ") != std::string::npos || text.rfind("ready ", 0) == 0)
            return true;
        int status = 0;
        if (process_.pid > 0 && waitpid(process_.pid, &status, WNOHANG) == process_.pid) {
            process_.pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error = "vfixture did not become ready:\n" + log();
    stop();
    return false;
}

std::string VirtualFixtures::stop()
{
    if (process_.pid > 0)
        stop_background(&process_);
    return log();
}

std::string VirtualFixtures::log() const
{
    return log_path_.empty() ? "" : read_text_file(log_path_);
}

AlfImageSpec image_spec(uint8_t version_hi, uint8_t version_lo, uint32_t words, uint32_t seed)
{
    AlfImageSpec spec;
    spec.version_hi = version_hi;
    spec.version_lo = version_lo;
    spec.name = "E2E image";
    spec.oem_slots = {0x4D2A};
    spec.data = pseudo_random_data(words, seed);
    return spec;
}

std::vector<uint8_t> write_image(const std::string &path, const AlfImageSpec &spec)
{
    std::vector<uint8_t> bytes = make_alf_image(spec);
    write_binary_file(path, bytes);
    return bytes;
}

ProcessResult run_lumiload(const std::vector<std::string> &args, const std::vector<std::string> &prefix,
                           double timeout_seconds)
{
    return run_program(bin_path("lumiload"), args, timeout_seconds, prefix);
}

static std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
static std::string format(const char *pattern, ...)
{
    char text[1024];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string banner()
{
    return "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\n";
}

std::string no_alf_line()
{
    return "# No ALF file supplied with -f, performing fixture poll without update.\n";
}

std::string separator()
{
    return "########################################\n";
}

uint32_t block_count(const std::vector<uint8_t> &bytes)
{
    return static_cast<uint32_t>((bytes.size() + 1023) / 1024);
}

std::string header_report(const std::string &path, const std::vector<uint8_t> &b)
{
    std::string name;
    for (int i = 4; i < 34 && b[i]; ++i)
        name += static_cast<char>(b[i]);
    uint32_t words = static_cast<uint32_t>(b[1056]) << 24 | b[1057] << 16 | b[1058] << 8 | b[1059];
    std::string oem = "    oemCodes=< ";
    for (int slot = 0; slot < 256; ++slot) {
        int code = b[34 + 2 * slot] << 8 | b[35 + 2 * slot];
        if (code)
            oem += format("0x%04x ", code);
    }
    return format("Opened ALF file %s: \n", path.c_str()) + "    name=" + name + "\n" +
           format("    version=%d.%d.%d\n", b[2], b[3] / 10, b[3] % 10) +
           format("    data_checksum=0x%04x\n", b[0] << 8 | b[1]) + format("    data_length=%uW\n", words) + oem +
           ">\n" + format("    blockCount=%u\n", block_count(b));
}

FixtureLines default_fixture(const std::string &address, const std::string &status)
{
    FixtureLines f;
    f.ip = address;
    unsigned a, b, c, d;
    std::sscanf(address.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    f.mac = format("02:00:%02x:%02x:%02x:%02x", a, b, c, d);
    f.long_name = "Virtual fixture " + address;
    f.status = status;
    return f;
}

std::string fixture_block(const FixtureLines &f)
{
    std::string text = "Fixture detected:\n    ip=" + f.ip + "\n    mac=" + f.mac + "\n    estaMan=" + f.esta +
                       "\n    oemCode=" + f.oem + "\n    version=" + f.version + "\n    portName=" + f.port_name +
                       "\n    longName=" + f.long_name + "\n";
    if (!f.status.empty())
        text += "    upgradeStatus=" + f.status + "\n";
    return text;
}

std::string update_report(const std::string &image_path, const std::vector<uint8_t> &bytes,
                          const FixtureLines &fixture, const std::string &upload_tail)
{
    return banner() + header_report(image_path, bytes) + separator() + fixture_block(fixture) + "\n" +
           "1 fixtures to update\n" + separator() + "Uploading to fixture at " + fixture.ip + ":\n" +
           format("    blockCount=%u\n", block_count(bytes)) + "    progress=" + upload_tail;
}

std::vector<std::string> fixture_blocks(const std::string &out)
{
    static const char *const keys[] = {"    ip=",      "    mac=",      "    estaMan=",  "    oemCode=",
                                       "    version=", "    portName=", "    longName=", "    upgradeStatus="};
    std::vector<std::string> blocks;
    bool open = false;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line == "Fixture detected:") {
            blocks.push_back(line + "\n");
            open = true;
            continue;
        }
        bool key = false;
        for (const char *k : keys)
            key = key || line.rfind(k, 0) == 0;
        if (open && key)
            blocks.back() += line + "\n";
        else
            open = false;
    }
    return blocks;
}

std::vector<std::string> lines_with(const std::string &text, const std::string &needle)
{
    std::vector<std::string> found;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(needle) != std::string::npos)
            found.push_back(line);
    }
    return found;
}

std::string loopback(int test, int group, int host)
{
    return format("127.%d.%d.%d", test, group, host);
}
