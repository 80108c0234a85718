// A firmware library (-l): every image of one folder, read and checked
// once, and which of them a fixture gets. A single image (-f) is a library
// of one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "alf.h"

struct LibraryImage {
    std::string file;             // its name in the folder, or the path given with -f
    AlfHeader header;
    std::vector<uint8_t> bytes;   // the whole file, header included, as checked
};

constexpr int NO_IMAGE = -1;         // no image fits the fixture
constexpr int AMBIGUOUS_IMAGE = -2;  // two different images of the best version fit it

// Reads every file of `folder` whose name ends in ".alf" (not those of its
// subfolders), in name order, each reported as -f reports its image; a
// file that fails a check is reported with its reason and left out. False,
// with the reason reported, when the folder cannot be read or none of its
// images can be used.
bool load_library(const std::string &folder, std::vector<LibraryImage> *images);

// The headers of `images`, in their order, for discovery.
std::vector<AlfHeader> library_headers(const std::vector<LibraryImage> &images);

// The image a fixture with these codes gets: among the images that name
// its OEM code, the one of the highest version. NO_IMAGE when none fits;
// AMBIGUOUS_IMAGE when two images with different contents share that
// version, since either could be the one meant. A fixture whose OEM code
// is the maker code takes any of the maker's images: it gets one only when
// all that fit it are one image.
int choose_image(const std::vector<AlfHeader> &images, uint16_t esta_code, uint16_t oem_code);
