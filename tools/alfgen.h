// Builds ALF firmware images for tests, the demo and the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AlfImageSpec {
    uint8_t version_hi = 1;
    uint8_t version_lo = 0;
    std::string name = "Test image";
    std::vector<uint16_t> oem_slots;   // written to slots 0, 1, ... as given (0 = empty slot)
    std::vector<uint8_t> data;          // padded with one zero byte to whole words
    bool bad_checksum = false;          // store the complement of the right checksum
};

// Checksum of a data area as the header stores it: the complement of the
// 16-bit sum of its words, each taken low byte first.
uint16_t alf_data_checksum(const std::vector<uint8_t> &data);

// The whole file: header, then data.
std::vector<uint8_t> make_alf_image(const AlfImageSpec &spec);

// `words` pseudo-random words from `seed`, the same for the same seed.
std::vector<uint8_t> pseudo_random_data(uint32_t words, uint32_t seed);

bool write_binary_file(const std::string &path, const std::vector<uint8_t> &bytes);
