#include "alfgen.h"

#include <cstdio>

#include "alf_format.h"

uint16_t alf_data_checksum(const std::vector<uint8_t> &data)
{
    return static_cast<uint16_t>(~alf_word_sum(0, data.data(), data.size()));
}

std::vector<uint8_t> make_alf_image(const AlfImageSpec &spec)
{
    std::vector<uint8_t> data = spec.data;
    if (data.size() % 2)
        data.push_back(0);
    const uint32_t words = static_cast<uint32_t>(data.size() / 2);

    std::vector<uint8_t> file(ALF_HEADER_SIZE, 0);
    uint16_t checksum = alf_data_checksum(data);
    if (spec.bad_checksum)
        checksum = static_cast<uint16_t>(~checksum);
    file[ALF_CHECKSUM_OFFSET] = checksum >> 8;
    file[ALF_CHECKSUM_OFFSET + 1] = checksum & 0xFF;
    file[ALF_VERSION_OFFSET] = spec.version_hi;
    file[ALF_VERSION_OFFSET + 1] = spec.version_lo;
    for (size_t i = 0; i < spec.name.size() && i < ALF_NAME_SIZE; ++i)
        file[ALF_NAME_OFFSET + i] = static_cast<uint8_t>(spec.name[i]);
    for (size_t slot = 0; slot < spec.oem_slots.size() && slot < ALF_OEM_SLOTS; ++slot) {
        file[ALF_OEM_OFFSET + 2 * slot] = spec.oem_slots[slot] >> 8;
        file[ALF_OEM_OFFSET + 2 * slot + 1] = spec.oem_slots[slot] & 0xFF;
    }
    for (int i = 0; i < 4; ++i)
        file[ALF_DATA_LENGTH_OFFSET + i] = static_cast<uint8_t>(words >> (24 - 8 * i));
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
