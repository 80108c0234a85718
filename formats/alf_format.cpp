#include "alf_format.h"

#include <algorithm>

#include "maker_code.h"

static uint16_t big_endian16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

uint32_t alf_block_count(uint32_t data_length)
{
    // In 64 bits: a data length near 2^32 words must not wrap.
    const uint64_t words = static_cast<uint64_t>(data_length) + ALF_HEADER_WORDS;
    return static_cast<uint32_t>((words + 511) / 512);
}

int64_t alf_expected_size(uint32_t data_length)
{
    return 2 * static_cast<int64_t>(data_length) + ALF_HEADER_SIZE;
}

void decode_alf_header(const uint8_t *bytes, AlfHeader *header)
{
    *header = AlfHeader();
    header->data_checksum = big_endian16(bytes + ALF_CHECKSUM_OFFSET);
    header->version = big_endian16(bytes + ALF_VERSION_OFFSET);

    const char *name = reinterpret_cast<const char *>(bytes + ALF_NAME_OFFSET);
    size_t name_length = 0;
    while (name_length < ALF_NAME_SIZE && name[name_length])
        ++name_length;  // a name filling all 30 bytes has no terminator
    header->name.assign(name, name_length);

    for (int slot = 0; slot < ALF_OEM_SLOTS; ++slot) {
        if (const uint16_t code = big_endian16(bytes + ALF_OEM_OFFSET + 2 * slot))
            header->oemCodes.push_back(code);
    }

    const uint8_t *length = bytes + ALF_DATA_LENGTH_OFFSET;
    header->data_length = static_cast<uint32_t>(big_endian16(length)) << 16 | big_endian16(length + 2);
    header->valid = true;
}

uint16_t alf_word_sum(uint16_t sum, const uint8_t *data, size_t size)
{
    for (size_t i = 0; i + 1 < size; i += 2)
        sum = static_cast<uint16_t>(sum + data[i] + 256 * data[i + 1]);
    return sum;
}

bool alf_fits(const std::vector<uint16_t> &oem_codes, uint16_t esta_code, uint16_t oem_code)
{
    return esta_code == MAKER_CODE &&
           (oem_code == MAKER_CODE || std::find(oem_codes.begin(), oem_codes.end(), oem_code) != oem_codes.end());
}
