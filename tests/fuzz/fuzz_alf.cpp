// Any file as an ALF image, read by lumiload (header, length and checksum
// checks, and a header block of seven lines whatever the name holds) and by
// the window, which must agree on the verdict and the fields.
#include <sys/mman.h>
#include <unistd.h>

#include "FirmwareImage.h"
#include "alf.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const int fd = memfd_create("alf", 0);  // no scratch file outlives a run
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        abort();
    AlfHeader h;
    std::vector<uint8_t> bytes;
    bool loaded = false;
    const long lines = printedLines([&] { loaded = load_alf_image(path.c_str(), &h, &bytes); });
    FirmwareImage image;
    QString problem;
    const bool ok = readFirmwareImage(QString::fromStdString(path), &image, &problem);
    if (lines != (h.valid ? 7 : 1) || ok != loaded || (loaded && bytes != std::vector<uint8_t>(data, data + size)) || ok == !problem.isEmpty() ||
        (h.valid && (image.name != QString::fromLatin1(h.name.data(), h.name.size()) || image.version != h.version ||
                     image.checksum != h.data_checksum || image.dataLength != h.data_length ||
                     image.oemCodes != QList<quint16>(h.oemCodes.begin(), h.oemCodes.end()))))
        abort();
    return 0;
}
