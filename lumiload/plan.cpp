#include "plan.h"

#include <cstdio>

#include "firmware_version.h"

static std::string hex_code(uint16_t code)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", code);
    return text;
}

// The files of the images of the best version that fit, named so the
// operator can remove all but one.
static std::string ambiguous_files(const std::vector<LibraryImage> &images, const PollReply &fixture)
{
    uint16_t best = 0;
    for (const LibraryImage &image : images) {
        if (alf_fits(image.header.oemCodes, fixture.esta_code, fixture.oem_code) && image.header.version > best)
            best = image.header.version;
    }
    std::string files;
    for (const LibraryImage &image : images) {
        if (alf_fits(image.header.oemCodes, fixture.esta_code, fixture.oem_code) && image.header.version == best)
            files += (files.empty() ? "" : ", ") + image.file;
    }
    return "different images of version " + version_text(best) + " fit OEM " + hex_code(fixture.oem_code) + ": " + files;
}

std::vector<PlanLine> make_plan(const std::vector<LibraryImage> &images, const std::vector<FixtureRecord> &heard,
                                const std::vector<AddressConflict> &conflicts, bool ignore_version)
{
    const std::vector<AlfHeader> headers = library_headers(images);
    std::vector<PlanLine> plan;
    for (const FixtureRecord &record : heard) {
        const PollReply fixture = decode_poll_reply(record.bytes, sizeof record.bytes);
        PlanLine line;
        line.address = fixture.ip;
        line.name = fixture.short_name;
        line.version = fixture.version;
        const int chosen = choose_image(headers, fixture.esta_code, fixture.oem_code);
        if (chosen >= 0) {
            line.image = images[chosen].file;
            line.image_version = images[chosen].header.version;
        }
        const AddressConflict *conflict = nullptr;
        for (const AddressConflict &c : conflicts)
            conflict = c.address == fixture.ip ? &c : conflict;
        if (conflict) {
            line.action = "conflict";
            line.why = "devices";
            for (const std::string &mac : conflict->macs)
                line.why += " " + mac;
            line.why += " answer at this address";
        } else if (chosen == AMBIGUOUS_IMAGE) {
            line.action = "conflict";
            line.why = ambiguous_files(images, fixture);
            line.image_ambiguous = true;
        } else if (chosen == NO_IMAGE) {
            line.action = "no-image";
            line.why = "no image fits maker " + hex_code(fixture.esta_code) + ", OEM " + hex_code(fixture.oem_code);
        } else if (upgrade_status(headers[chosen], fixture.esta_code, fixture.oem_code, fixture.version, ignore_version) ==
                   UpgradeStatus::UpToDate) {
            line.action = "current";
            if (fixture.version > line.image_version)
                line.why = "the fixture runs a newer version (-i would downgrade it)";
        } else {
            line.action = line.image_version < fixture.version && line.image_version != 0 ? "downgrade" : "update";
        }
        plan.push_back(line);
    }
    return plan;
}
