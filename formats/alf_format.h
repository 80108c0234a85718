// ALF firmware images: a 1060-byte big-endian header followed by the data
// as 16-bit words. The layout, its decoding and the sums over it; no file
// access, so every reader (console, window, virtual fixture, tools) shares
// it whatever its I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr long ALF_HEADER_SIZE = 1060;
constexpr uint32_t ALF_HEADER_WORDS = ALF_HEADER_SIZE / 2;
constexpr int ALF_CHECKSUM_OFFSET = 0;       // 2 bytes
constexpr int ALF_VERSION_OFFSET = 2;        // 2 bytes: high, low
constexpr int ALF_NAME_OFFSET = 4;
constexpr int ALF_NAME_SIZE = 30;
constexpr int ALF_OEM_OFFSET = 34;
constexpr int ALF_OEM_SLOTS = 256;
constexpr int ALF_DATA_LENGTH_OFFSET = 1056;  // 4 bytes, in words

// The header as held in memory; copied freely. `valid` is false in an empty
// header, which tells discovery that no image was given.
struct AlfHeader {
    bool valid = false;
    uint16_t data_checksum = 0;
    uint16_t version = 0;           // byte 2 in the high half
    std::string name;
    std::vector<uint16_t> oemCodes;  // non-zero slots, in slot order
    uint32_t data_length = 0;        // in 16-bit words
};

// Number of 1024-byte blocks the whole file occupies, header included.
uint32_t alf_block_count(uint32_t data_length);

// Size in bytes of a well-formed file with this data length (needs 33 bits).
int64_t alf_expected_size(uint32_t data_length);

// Fills `header` from the 1060 header bytes; no checks beyond that.
void decode_alf_header(const uint8_t *bytes, AlfHeader *header);

// Adds `size` bytes of data (an even number) to `sum`, the 16-bit sum of
// the data words taken low byte first. Start from 0; the header stores the
// complement of the sum over all the data, so feed it in any slices.
uint16_t alf_word_sum(uint16_t sum, const uint8_t *data, size_t size);

// Whether an image for `oem_codes` may go onto a fixture reporting these
// codes: the maker's own fixtures only, and only those whose OEM code the
// image lists (the maker code as OEM code fits every image).
bool alf_fits(const std::vector<uint16_t> &oem_codes, uint16_t esta_code, uint16_t oem_code);
