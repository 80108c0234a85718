// One upload as the window follows it: standard output is the input up to
// its first NUL, standard error the rest. Fed in alternating pieces that the
// input decides, it ends as when both are fed whole; it has a reason exactly
// when it failed, and its bar never passes the block count.
#include "UpdaterOutput.h"

static QString ending(const QString (&streams)[2], bool inPieces, bool crashed, int exitCode)
{
    UploadProgress upload;
    qsizetype at[2] = {0, 0};
    for (int s = 0; at[0] < streams[0].size() || at[1] < streams[1].size(); s ^= 1) {
        const qsizetype length = inPieces && at[s] < streams[s].size() ? streams[s][at[s]].unicode() % 61 + 1
                                                                       : streams[s].size();
        s ? upload.feedErrors(streams[s].mid(at[s], length)) : upload.feed(streams[s].mid(at[s], length));
        at[s] += length;
    }
    upload.finish(crashed, exitCode);
    if (upload.succeeded() == !upload.reason().isEmpty() || upload.progress() < 0 ||
        (upload.blockCount() > 0 && upload.progress() > upload.blockCount()))
        abort();
    return QString("%1 %2 %3 %4 ").arg(upload.blockCount()).arg(upload.progress()).arg(upload.acceptedBlocks())
               .arg(upload.touched()) + upload.reason();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QString streams[2] = {QString::fromLatin1(input.left(nul < 0 ? size : nul)),
                                QString::fromLatin1(nul < 0 ? QByteArray() : input.mid(nul + 1))};
    describeErrors(streams[1].split('\n'));
    const bool crashed = size % 2;
    if (ending(streams, true, crashed, size ? data[0] : 0) != ending(streams, false, crashed, size ? data[0] : 0))
        abort();
    return 0;
}
