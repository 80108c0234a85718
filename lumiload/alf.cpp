#include "alf.h"

#include "report.h"

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
    header->data_checksum = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
    header->version = static_cast<uint16_t>(bytes[2] << 8 | bytes[3]);

    const char *name = reinterpret_cast<const char *>(bytes + ALF_NAME_OFFSET);
    size_t name_length = 0;
    while (name_length < ALF_NAME_SIZE && name[name_length])
        ++name_length;  // a name filling all 30 bytes has no terminator
    header->name.assign(name, name_length);

    for (int slot = 0; slot < ALF_OEM_SLOTS; ++slot) {
        const uint8_t *code = bytes + ALF_OEM_OFFSET + 2 * slot;
        const uint16_t value = static_cast<uint16_t>(code[0] << 8 | code[1]);
        if (value != 0)
            header->oemCodes.push_back(value);
    }

    const uint8_t *length = bytes + ALF_DATA_LENGTH_OFFSET;
    header->data_length = static_cast<uint32_t>(length[0]) << 24 | static_cast<uint32_t>(length[1]) << 16 |
                          static_cast<uint32_t>(length[2]) << 8 | length[3];
    header->valid = true;
}

bool read_alf_header(FILE *file, AlfHeader *header)
{
    *header = AlfHeader();
    uint8_t bytes[ALF_HEADER_SIZE];
    std::rewind(file);
    if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
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
// Reads exactly `words` words from the current position, so a medium that
// keeps failing cannot keep the loop going: a failed word counts as 0, and
// the next word is read from its own offset.
static uint16_t data_checksum(FILE *file, uint32_t words)
{
    uint16_t sum = 0;
    for (uint32_t i = 0; i < words; ++i) {
        uint8_t word[2];
        if (std::fread(word, 1, 2, file) == 2) {
            sum = static_cast<uint16_t>(sum + word[0] + 256 * word[1]);
            continue;
        }
        report_alf_read_failed();
        std::clearerr(file);
        const long next = ALF_HEADER_SIZE + 2 * static_cast<long>(i + 1);
        if (std::fseek(file, next, SEEK_SET) != 0)
            break;  // nowhere left to read from: the rest counts as 0
    }
    return static_cast<uint16_t>(~sum);
}

FILE *open_alf_file(const char *path, AlfHeader *header)
{
    FILE *file = nullptr;
    FILE *accepted = nullptr;
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
    if (!read_alf_header(file, header))
        goto done;
    report_alf_header(header->name, header->version, header->data_checksum, header->data_length,
                      header->oemCodes, alf_block_count(header->data_length));

    expected = alf_expected_size(header->data_length);
    actual = file_size(file);
    if (actual != expected) {
        report_alf_length_mismatch(expected, actual);
        goto done;
    }
    if (std::fseek(file, ALF_HEADER_SIZE, SEEK_SET) != 0)
        report_alf_seek_failed();
    else
        computed = data_checksum(file, header->data_length);
    std::rewind(file);
    if (computed != header->data_checksum) {
        report_alf_checksum_invalid(header->data_checksum, computed);
        goto done;
    }
    accepted = file;
    file = nullptr;

done:
    if (file)
        std::fclose(file);
    return accepted;
}
