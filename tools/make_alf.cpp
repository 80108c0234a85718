// make_alf: writes an ALF firmware image.
//
//   make_alf -o FILE [--version X.Y.Z | --version-bytes HI,LO] [--name TEXT]
//            [--oem CODE]... [--words N] [--seed N] [--data FILE] [--bad-checksum]
//
// --version X.Y.Z stores the bytes X and Y*10+Z, the form lumiload prints.
// Without --oem the image carries the maker code 0x4D2A in slot 0.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "alfgen.h"
#include "maker_code.h"

static void usage()
{
    std::fprintf(stderr,
                 "usage: make_alf -o FILE [--version X.Y.Z | --version-bytes HI,LO] [--name TEXT]\n"
                 "                [--oem CODE]... [--words N] [--seed N] [--data FILE] [--bad-checksum]\n");
}

static bool parse_number(const char *text, unsigned long max, unsigned long *value)
{
    char *end = nullptr;
    errno = 0;
    unsigned long parsed = std::strtoul(text, &end, 0);
    if (errno || end == text || *end || parsed > max)
        return false;
    *value = parsed;
    return true;
}

static bool read_whole_file(const char *path, std::vector<uint8_t> *bytes)
{
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

int main(int argc, char *argv[])
{
    AlfImageSpec spec;
    std::string output;
    unsigned long words = 0, seed = 1;
    const char *data_path = nullptr;
    bool oem_given = false;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long n = 0;
        if (arg == "--bad-checksum") {
            spec.bad_checksum = true;
            continue;
        }
        if (!value) {
            usage();
            return 2;
        }
        ++i;
        if (arg == "-o") {
            output = value;
        } else if (arg == "--name") {
            spec.name = value;
        } else if (arg == "--version") {
            unsigned major, minor, patch;
            char tail;
            if (std::sscanf(value, "%u.%u.%u%c", &major, &minor, &patch, &tail) != 3 || major > 255 ||
                minor * 10 + patch > 255 || patch > 9) {
                std::fprintf(stderr, "make_alf: bad version '%s'\n", value);
                return 2;
            }
            spec.version_hi = static_cast<uint8_t>(major);
            spec.version_lo = static_cast<uint8_t>(minor * 10 + patch);
        } else if (arg == "--version-bytes") {
            int hi, lo;
            char tail;
            if (std::sscanf(value, "%i,%i%c", &hi, &lo, &tail) != 2 || hi < 0 || hi > 255 || lo < 0 ||
                lo > 255) {
                std::fprintf(stderr, "make_alf: bad version bytes '%s'\n", value);
                return 2;
            }
            spec.version_hi = static_cast<uint8_t>(hi);
            spec.version_lo = static_cast<uint8_t>(lo);
        } else if (arg == "--oem" && parse_number(value, 0xFFFF, &n)) {
            spec.oem_slots.push_back(static_cast<uint16_t>(n));
            oem_given = true;
        } else if (arg == "--words" && parse_number(value, 0x7FFFFFFF, &n)) {
            words = n;
        } else if (arg == "--seed" && parse_number(value, 0xFFFFFFFF, &n)) {
            seed = n;
        } else if (arg == "--data") {
            data_path = value;
        } else {
            usage();
            return 2;
        }
    }
    if (output.empty()) {
        usage();
        return 2;
    }
    if (!oem_given)
        spec.oem_slots.push_back(MAKER_CODE);
    if (data_path) {
        if (!read_whole_file(data_path, &spec.data)) {
            std::fprintf(stderr, "make_alf: cannot read %s\n", data_path);
            return 1;
        }
    } else {
        spec.data = pseudo_random_data(static_cast<uint32_t>(words), static_cast<uint32_t>(seed));
    }
    if (!write_binary_file(output, make_alf_image(spec))) {
        std::fprintf(stderr, "make_alf: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
