// ALF firmware images: a 1060-byte big-endian header followed by the data
// as 16-bit words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr long ALF_HEADER_SIZE = 1060;
constexpr uint32_t ALF_HEADER_WORDS = ALF_HEADER_SIZE / 2;
constexpr int ALF_NAME_OFFSET = 4;
constexpr int ALF_NAME_SIZE = 30;
constexpr int ALF_OEM_OFFSET = 34;
constexpr int ALF_OEM_SLOTS = 256;
constexpr int ALF_DATA_LENGTH_OFFSET = 1056;

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

// Rereads the header from the start of `file`. On a short read reports the
// error and returns false.
bool read_alf_header(FILE *file, AlfHeader *header);

// Opens, prints and validates the image. Returns the open file at offset 0,
// owned by the caller, or nullptr after reporting why; `header` keeps what
// was read.
FILE *open_alf_file(const char *path, AlfHeader *header);
