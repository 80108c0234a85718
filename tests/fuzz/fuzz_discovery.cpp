// The window's discovery reader, fed a report in pieces that the input decides (the byte at each
// cut sets the next piece's length) and parsing a line per slice, lists what it lists from the
// report fed whole; a version it takes reads back as written.
#include <QCoreApplication>

#include "FirmwareImage.h"
#include "UpdaterOutput.h"

static QStringList listed(const QByteArray &report, bool inPieces)
{
    QStringList found;
    DiscoveryParser parser;
    QObject::connect(&parser, &DiscoveryParser::fixturesFound, [&](const QList<DiscoveredFixture> &fixtures) {
        for (const DiscoveredFixture &f : fixtures) {
            found << f.name << f.ip << f.version << QString::number(f.estaCode << 16 | f.oemCode);
            const QStringList n = f.version.split('.');
            quint16 v;
            if (parseVersionText(f.version, &v) &&
                versionText(v) != QString("%1.%2.%3").arg(n[0].toUInt()).arg(n[1].toUInt()).arg(n[2].toUInt()))
                abort();
        }
    });
    DiscoveryParser::setSliceMs(inPieces ? 0 : 1 << 30);
    for (qsizetype at = 0, length; at < report.size(); at += length) {
        length = inPieces ? uchar(report[at]) % 61 + 1 : report.size();
        parser.feed(report.mid(at, length));
    }
    parser.finish();
    // The later slices, each queued by the one before: one delivery of the
    // posted events runs one slice. Read whole, there are none.
    for (qsizetype slice = inPieces ? report.count('\n') : -1; slice >= 0; --slice)
        QCoreApplication::sendPostedEvents();
    return found;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char *argv[] = {const_cast<char *>("fuzz_discovery"), nullptr};
    // Qt's own event dispatcher: the GLib one's locking was a tenth of each run.
    [[maybe_unused]] static const bool plainDispatcher = qputenv("QT_NO_GLIB", "1");
    static QCoreApplication app(argc, argv);
    const QByteArray report(reinterpret_cast<const char *>(data), qsizetype(size));
    if (listed(report, true) != listed(report, false))
        abort();
    return 0;
}
