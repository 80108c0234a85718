#include "alfgen.h"

#include <cstdio>

uint16_t alf_data_checksum(const std::vector<uint8_t> &data)
{
    uint16_t sum = 0;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
        sum = static_cast<uint16_t>(sum + data[i] + 256 * data[i + 1]);
    return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> make_alf_image(const AlfImageSpec &spec)
{
    std::vector<uint8_t> data = spec.data;
    if (data.size() % 2)
        data.push_back(0);
    const uint32_t words = static_cast<uint32_t>(data.size() / 2);

    std::vector<uint8_t> file(1060, 0);
    uint16_t checksum = alf_data_checksum(data);
    if (spec.bad_checksum)
        checksum = static_cast<uint16_t>(~checksum);
    file[0] = checksum >> 8;
    file[1] = checksum & 0xFF;
    file[2] = spec.version_hi;
    file[3] = spec.version_lo;
    for (size_t i = 0; i < spec.name.size() && i < 30; ++i)
        file[4 + i] = static_cast<uint8_t>(spec.name[i]);
    for (size_t slot = 0; slot < spec.oem_slots.size() && slot < 256; ++slot) {
        file[34 + 2 * slot] = spec.oem_slots[slot] >> 8;
        file[35 + 2 * slot] = spec.oem_slots[slot] & 0xFF;
    }
    file[1056] = words >> 24;
    file[1057] = (words >> 16) & 0xFF;
    file[1058] = (words >> 8) & 0xFF;
    file[1059] = words & 0xFF;
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

std::vector<uint8_t> pseudo_random_data(uint32_t words, uint32_t seed)
{
    std::vector<uint8_t> data(static_cast<size_t>(words) * 2);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t &byte : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state);
    }
    return data;
}

bool write_binary_file(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0)
        ok = false;
    return ok;
}
