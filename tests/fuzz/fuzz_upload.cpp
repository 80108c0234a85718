// One upload as the window follows it, standard output up to the input's first NUL and standard
// error after it, fed in alternating pieces that the input decides: it ends as when both are fed
// whole, it has a reason exactly when it failed, and its bar never passes the block count.
#include "UpdaterOutput.h"

static QString ending(const QString (&text)[2], bool inPieces, bool crashed, int exitCode)
{
    UploadProgress upload;
    qsizetype at[2] = {0, 0};
    for (int s = 0; at[0] < text[0].size() || at[1] < text[1].size(); s ^= 1) {
        const qsizetype n = inPieces && at[s] < text[s].size() ? text[s][at[s]].unicode() % 61 + 1 : text[s].size();
        s ? upload.feedErrors(text[s].mid(at[s], n)) : upload.feed(text[s].mid(at[s], n));
        at[s] += n;
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
    const QString input = QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = input.indexOf(QChar(0));
    const QString text[2] = {input.left(nul), nul < 0 ? QString() : input.mid(nul + 1)};
    if (ending(text, true, size % 2, size ? data[0] : 0) != ending(text, false, size % 2, size ? data[0] : 0))
        abort();
    return 0;
}
