// Any datagram through the reply checks; an accepted ArtPollReply decoded and
// reported as discovery does, always in the same eight lines.
#include <vector>

#include "fuzz_support.h"
#include "packets.h"
#include "report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check_firmware_reply(data, size);
    if (!is_poll_reply(data, size))
        return 0;
    std::vector<uint8_t> reply(data, data + size);  // exactly the datagram: reads past it are caught
    terminate_reply_texts(reply.data());
    if (printedLines([&] { report_fixture(decode_poll_reply(reply.data(), reply.size())); }) != 8)
        abort();
    return 0;
}
