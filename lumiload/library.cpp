#include "library.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "report.h"

static bool has_alf_extension(const std::string &name)
{
    if (name.size() < 4)
        return false;
    std::string extension = name.substr(name.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return extension == ".alf";
}

bool load_library(const std::string &folder, std::vector<LibraryImage> *images)
{
    namespace fs = std::filesystem;
    images->clear();
    std::error_code error;
    std::vector<fs::path> paths;
    for (fs::directory_iterator entry(fs::u8path(folder), error), end; !error && entry != end; entry.increment(error)) {
        std::error_code kind_error;
        if (entry->is_regular_file(kind_error) && has_alf_extension(entry->path().filename().u8string()))
            paths.push_back(entry->path());
    }
    if (error) {
        report_error("failed to read firmware folder %s: %s", folder.c_str(), error.message().c_str());
        return false;
    }
    std::sort(paths.begin(), paths.end());
    size_t left_out = 0;
    for (const fs::path &path : paths) {
        LibraryImage image;
        image.file = path.filename().u8string();
        if (load_alf_image(path.u8string().c_str(), &image.header, &image.bytes))
            images->push_back(std::move(image));
        else
            ++left_out;
    }
    std::vector<LibraryFileLine> lines;
    for (const LibraryImage &image : *images)
        lines.push_back({image.file, image.header.name, image.header.version, image.header.oemCodes,
                         alf_block_count(image.header.data_length)});
    report_library(folder, lines, left_out);
    if (images->empty()) {
        report_error("no usable firmware image in %s", folder.c_str());
        return false;
    }
    return true;
}

std::vector<AlfHeader> library_headers(const std::vector<LibraryImage> &images)
{
    std::vector<AlfHeader> headers;
    for (const LibraryImage &image : images)
        headers.push_back(image.header);
    return headers;
}

// The best of the images `fits` accepts, as choose_image says.
template <typename Fits> static int best_image(const std::vector<AlfHeader> &images, Fits fits)
{
    int best = NO_IMAGE;
    bool ambiguous = false;
    for (size_t i = 0; i < images.size(); ++i) {
        const AlfHeader &image = images[i];
        if (!image.valid || !fits(image))
            continue;
        if (best == NO_IMAGE || image.version > images[best].version) {
            best = static_cast<int>(i);
            ambiguous = false;
        } else if (image.version == images[best].version &&
                   (image.data_checksum != images[best].data_checksum || image.data_length != images[best].data_length)) {
            ambiguous = true;  // a copy of the same image is no second choice
        }
    }
    return ambiguous ? AMBIGUOUS_IMAGE : best;
}

int choose_image(const std::vector<AlfHeader> &images, uint16_t esta_code, uint16_t oem_code)
{
    // An image that names the fixture's OEM code is meant for it.
    const int named = best_image(images, [&](const AlfHeader &image) {
        return alf_fits(image.oemCodes, esta_code, oem_code) &&
               std::find(image.oemCodes.begin(), image.oemCodes.end(), oem_code) != image.oemCodes.end();
    });
    if (named != NO_IMAGE)
        return named;
    // A fixture that takes any of the maker's images (OEM code the maker
    // code) gets one only when the library holds no other: the highest
    // version of some other model's image is no choice.
    int fitting = NO_IMAGE;
    for (size_t i = 0; i < images.size(); ++i) {
        if (!images[i].valid || !alf_fits(images[i].oemCodes, esta_code, oem_code))
            continue;
        if (fitting != NO_IMAGE && (images[i].data_checksum != images[fitting].data_checksum ||
                                    images[i].data_length != images[fitting].data_length ||
                                    images[i].version != images[fitting].version))
            return AMBIGUOUS_IMAGE;
        fitting = static_cast<int>(i);
    }
    return fitting;
}
