#include "alf.h"

#include <algorithm>
#include <cstdio>

#include "report.h"

static bool read_alf_header(FILE *file, AlfHeader *header, uint8_t *bytes)
{
    *header = AlfHeader();
    std::rewind(file);
    if (std::fread(bytes, 1, ALF_HEADER_SIZE, file) != ALF_HEADER_SIZE) {
        report_alf_header_read_failed();
        return false;
    }
    decode_alf_header(bytes, header);
    return true;
}

// Size of the file in bytes, or -1; leaves the file at its start.
static int64_t file_size(FILE *file)
{
    int64_t size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    std::rewind(file);
    return size;
}

// Complement of the 16-bit sum of the data words, each low byte first.
// Reads exactly `words` words from the current position into `data`, so a
// medium that keeps failing cannot keep the loop going: a failed word counts
// (and is kept) as 0, and the next word is read from its own offset.
static uint16_t data_checksum(FILE *file, uint32_t words, uint8_t *data)
{
    uint16_t sum = 0;
    for (uint32_t i = 0; i < words; ++i) {
        uint8_t *word = data + 2 * static_cast<size_t>(i);
        if (std::fread(word, 1, 2, file) == 2) {
            sum = alf_word_sum(sum, word, 2);
            continue;
        }
        word[0] = word[1] = 0;
        report_alf_read_failed();
        std::clearerr(file);
        const long next = ALF_HEADER_SIZE + 2 * static_cast<long>(i + 1);
        if (std::fseek(file, next, SEEK_SET) != 0)
            break;  // nowhere left to read from: the rest counts as 0
    }
    return static_cast<uint16_t>(~sum);
}

bool load_alf_image(const char *path, AlfHeader *header, std::vector<uint8_t> *image)
{
    FILE *file = nullptr;
    bool accepted = false;
    uint8_t header_bytes[ALF_HEADER_SIZE];
    int64_t expected = 0;
    int64_t actual = 0;
    uint16_t computed = 0;

    *header = AlfHeader();
    file = std::fopen(path, "rb");
    if (!file) {
        report_alf_open_failed(path);
        goto done;
    }
    report_alf_opened(path);
    if (!read_alf_header(file, header, header_bytes))
        goto done;
    report_alf_header(header->name, header->version, header->data_checksum, header->data_length,
                      header->oemCodes, alf_block_count(header->data_length));

    expected = alf_expected_size(header->data_length);
    actual = file_size(file);
    if (actual != expected) {
        report_alf_length_mismatch(expected, actual);
        goto done;
    }
    image->assign(static_cast<size_t>(expected), 0);
    std::copy(header_bytes, header_bytes + ALF_HEADER_SIZE, image->begin());
    if (std::fseek(file, ALF_HEADER_SIZE, SEEK_SET) != 0)
        report_alf_seek_failed();
    else
        computed = data_checksum(file, header->data_length, image->data() + ALF_HEADER_SIZE);
    if (computed != header->data_checksum) {
        report_alf_checksum_invalid(header->data_checksum, computed);
        goto done;
    }
    accepted = true;

done:
    if (file)
        std::fclose(file);
    if (!accepted)
        image->clear();
    return accepted;
}
