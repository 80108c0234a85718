// The maker whose fixtures this project serves.
#pragma once

#include <cstdint>

// ESTA manufacturer code: sent in every ArtPoll, required in every
// ArtPollReply of a fixture that may be updated, and the OEM code that
// fits every image of this maker.
constexpr uint16_t MAKER_CODE = 0x4D2A;
