// The window's readers of what comes from outside, in-process: every
// report of lumiload fed whole, cut at every byte and byte by byte, must
// read the same; an image is checked as lumiload's reader checks it.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "FirmwareImage.h"
#include "UpdaterOutput.h"
#include "alfgen.h"

Q_DECLARE_METATYPE(QList<DiscoveredFixture>)

namespace {

QString block(const QString &ip, const QString &name, const QString &version,
              const QString &portName = "Spot", const QString &eol = "\r\n")
{
    return "Fixture detected:" + eol + "    ip=" + ip + eol + "    mac=00:11:22:33:44:55" + eol +
           "    estaMan=0x4d2a" + eol + "    oemCode=0x0101" + eol + "    version=" + version + eol +
           "    portName=" + portName + eol + "    longName=" + name + eol;
}

QStringList rows(const QList<DiscoveredFixture> &fixtures)
{
    QStringList result;
    for (const DiscoveredFixture &f : fixtures)
        result << f.name + "|" + f.ip + "|" + f.version;
    return result;
}

// The ways a pipe may cut `text`: whole, at every byte into two pieces, and
// one byte per piece.
QList<QList<QByteArray>> cuts(const QByteArray &text)
{
    QList<QList<QByteArray>> result{{text}};
    for (int at = 1; at < text.size(); ++at)
        result.append({text.left(at), text.mid(at)});
    QList<QByteArray> bytes;
    for (char c : text)
        bytes.append(QByteArray(1, c));
    result.append(bytes);
    return result;
}

} // namespace

class TestUpdaterOutput : public QObject
{
    Q_OBJECT

private slots:
    void discovery_data();
    void discovery();
    void largeReportIsParsedInSlices();
    void uploadProgress_data();
    void uploadProgress();
    void imageCheck_data();
    void imageCheck();
    void versions_data();
    void versions();
};

void TestUpdaterOutput::discovery_data()
{
    QTest::addColumn<QString>("report");
    QTest::addColumn<QStringList>("expected");
    const QString banner = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\r\n";
    QTest::newRow("one block, CR LF") << banner + block("2.0.0.5", "Spot 1", "1.2.3") + "\r\n"
                                      << QStringList{"Spot 1|2.0.0.5|1.2.3"};
    QTest::newRow("LF and CR LF, status lines")
        << block("2.0.0.5", "A", "1.0.0") + "    upgradeStatus=upgrade-required\r\n" +
               block("2.0.0.6", "Wash 2", "0.9.1", "Wash", "\n")
        << QStringList{"A|2.0.0.5|1.0.0", "Wash 2|2.0.0.6|0.9.1"};
    QTest::newRow("key from the line start, value whole")
        << block("2.0.0.9", "Key=Value ip=1.1.1.1", "1.0.0", "ip=9.9.9.9") +
               block("2.0.0.10", "version=9 fixture", "1.0.1", "x=y")
        << QStringList{"Key=Value ip=1.1.1.1|2.0.0.9|1.0.0", "version=9 fixture|2.0.0.10|1.0.1"};
    QTest::newRow("incomplete blocks add nothing")
        << "Fixture detected:\n    ip=2.0.0.20\n    longName=NoVersion\n"
           "Fixture detected:\n    ip=2.0.0.21\n    version=1.0.0\n    longName=\n" +
               block("2.0.0.22", "Good", "1.0.0")
        << QStringList{"Good|2.0.0.22|1.0.0"};
    QTest::newRow("a fixture listed twice comes twice")
        << block("2.0.0.5", "First", "1.0.0") + block("2.0.0.5", "Second", "1.0.5")
        << QStringList{"First|2.0.0.5|1.0.0", "Second|2.0.0.5|1.0.5"};
    QTest::newRow("last line without line feed") << block("2.0.0.8", "Beam 8", "2.1.1").chopped(2)
                                                 << QStringList{"Beam 8|2.0.0.8|2.1.1"};
}

void TestUpdaterOutput::discovery()
{
    QFETCH(QString, report);
    QFETCH(QStringList, expected);
    for (const QList<QByteArray> &pieces : cuts(report.toUtf8())) {
        DiscoveryParser parser;
        QSignalSpy spy(&parser, &DiscoveryParser::fixturesFound);
        for (const QByteArray &piece : pieces)
            parser.feed(piece);
        parser.finish();
        QStringList found;
        for (const QList<QVariant> &signal : spy)
            found << rows(signal.at(0).value<QList<DiscoveredFixture>>());
        QCOMPARE(found, expected);
    }
}

void TestUpdaterOutput::largeReportIsParsedInSlices()
{
    QString report;
    for (int i = 0; i < 300; ++i)
        report += block(QString("2.0.%1.%2").arg(i / 250).arg(i % 250), QString("F%1").arg(i), "1.0.0");
    DiscoveryParser::setSliceMs(0);
    DiscoveryParser parser;
    QSignalSpy spy(&parser, &DiscoveryParser::fixturesFound);
    parser.feed(report.toUtf8());
    QVERIFY2(spy.size() <= 1, "feed returns after one slice; the rest follows from the event loop");
    parser.finish();
    QStringList found;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            found.clear();
            for (const QList<QVariant> &signal : spy)
                found << rows(signal.at(0).value<QList<DiscoveredFixture>>());
            return found.size() == 300;
        }(),
        10000);
    QCOMPARE(found.first(), QString("F0|2.0.0.0|1.0.0"));
    QCOMPARE(found.last(), QString("F299|2.0.1.49|1.0.0"));
    DiscoveryParser::setSliceMs(50);
}

void TestUpdaterOutput::uploadProgress_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errors");
    QTest::addColumn<int>("blockCount");
    QTest::addColumn<int>("progress");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<QString>("reason");   // a piece of it; "" when it succeeded
    const QString head = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\n"
                         "Opened ALF file /Show-2024/fw-v1-2-0.alf: \n    blockCount=5\n"
                         "Fixture detected:\n    ip=2.0.0.5\n    estaMan=0x4d2a\n    oemCode=0x0101\n"
                         "    upgradeStatus=upgrade-required\n\n1 fixtures to update\n"
                         "Uploading to fixture at 2.0.0.5:\n    blockCount=5\n";
    const QString upload = "Error: Firmware upload failed.\n";
    QTest::newRow("accepted blocks, not dashes") << head + "    progress=F -T - - LG\n# Firmware uploaded successfully\n"
                                                 << "" << 5 << 5 << true << "";
    QTest::newRow("a full bar only with the success line") << head + "    progress=F - - - LG\n"
                                                           << "" << 5 << 4 << false << "lumiload ended";
    QTest::newRow("fell silent part way") << head + "    progress=F - -TTT\n\n" << upload << 5 << 2 << false
                                          << "no reply to block 3 of 5 after three attempts. The fixture "
                                             "accepted 2 of 5 blocks before the failure and may be half-written";
    QTest::newRow("FirmFail") << head + "    progress=F -B\n\n" << "    Error: unexpected reply type=255\n" + upload
                              << 5 << 1 << false << "rejected block 2 of 5 (reply type 255, FirmFail)";
    QTest::newRow("another model")
        << head.left(head.indexOf("    upgradeStatus")) + "    upgradeStatus=incompatible\n\n"
        << "Error: no fixture to update.\n" << 5 << 0 << false
        << "does not fit this fixture (estaMan=0x4d2a, oemCode=0x0101). Nothing was sent";
    QTest::newRow("fixture gone") << head.left(head.indexOf("Fixture detected")) + "\n"
                                  << "Error: no fixture to update.\n" << 5 << 0 << false << "did not answer";
    QTest::newRow("fixture gone, Windows line ends") << "Opened ALF file x: \r\n    blockCount=5\r\n\r\n"
                                                     << "Error: no fixture to update.\r\n" << 5 << 0 << false << "did not answer";
    QTest::newRow("damaged image") << "Opened ALF file x: \n    blockCount=5\n"
                                   << "Error: data checksum is invalid (expected=0x0000 actual=0xffff)\n" << 5 << 0
                                   << false << "firmware file is damaged";
    QTest::newRow("port taken, owner named")
        << "" << "Error: Failed to bind UDP socket: Address already in use\r\n"
                 "    Port 6454 is in use by console.exe (pid 4242).\r\nError: run_poll failed\r\n"
        << 0 << 0 << false << "in use on this computer by console.exe (pid 4242)";
    QTest::newRow("success line without line feed") << "    blockCount=2\n    progress=F LG\n# Firmware uploaded successfully"
                                                    << "" << 2 << 2 << true << "";
}

void TestUpdaterOutput::uploadProgress()
{
    QFETCH(QString, output);
    QFETCH(QString, errors);
    QFETCH(int, blockCount);
    QFETCH(int, progress);
    QFETCH(bool, succeeded);
    QFETCH(QString, reason);
    for (const QList<QByteArray> &pieces : cuts(output.toUtf8())) {
        UploadProgress upload;
        for (const QByteArray &piece : pieces)
            upload.feed(QString::fromUtf8(piece));
        upload.feedErrors(errors);
        upload.finish(false, 1);
        QCOMPARE(upload.blockCount(), blockCount);
        QCOMPARE(upload.progress(), progress);
        QCOMPARE(upload.succeeded(), succeeded);
        QVERIFY2(reason.isEmpty() ? upload.reason().isEmpty() : upload.reason().contains(reason),
                 qPrintable(upload.reason()));
    }
}

void TestUpdaterOutput::imageCheck_data()
{
    QTest::addColumn<int>("change");   // 0 none, 1 bad checksum, 2 extra byte, 3 cut to 100 bytes, 4 missing
    QTest::addColumn<QString>("problem");
    QTest::newRow("good") << 0 << "";
    QTest::newRow("checksum") << 1 << "checksum is wrong";
    QTest::newRow("one byte more") << 2 << "expected 1062 bytes, found 1063";
    QTest::newRow("short") << 3 << "too short";
    QTest::newRow("missing") << 4 << "cannot be opened";
}

void TestUpdaterOutput::imageCheck()
{
    QFETCH(int, change);
    QFETCH(QString, problem);
    AlfImageSpec spec;
    spec.version_hi = 2;
    spec.version_lo = 35;
    spec.name = std::string(30, 'N');   // fills the field: no terminator
    spec.oem_slots = {0x0012, 0, 0x0034};
    spec.data = {1, 2};
    spec.bad_checksum = change == 1;
    std::vector<uint8_t> bytes = make_alf_image(spec);
    if (change == 2)
        bytes.push_back(0);
    if (change == 3)
        bytes.resize(100);
    QTemporaryDir dir;
    const QString path = dir.filePath("fw.alf");
    if (change != 4)
        QVERIFY(write_binary_file(path.toStdString(), bytes));

    FirmwareImage image;
    QString found;
    QCOMPARE(readFirmwareImage(path, &image, &found), problem.isEmpty());
    QVERIFY2(found.contains(problem), qPrintable(found));
    if (problem.isEmpty()) {
        QCOMPARE(image.name, QString(30, 'N'));
        QCOMPARE(image.version, quint16(2 << 8 | 35));
        QCOMPARE(image.oemCodes, QList<quint16>({0x0012, 0x0034}));
        QCOMPARE(image.dataLength, 1u);
        QCOMPARE(image.blockCount(), 2u);
    }
}

void TestUpdaterOutput::versions_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("text");
    QTest::newRow("1,20") << (1 << 8 | 20) << "1.2.0";
    QTest::newRow("2,23") << (2 << 8 | 23) << "2.2.3";
    QTest::newRow("1,200") << (1 << 8 | 200) << "1.20.0";
    QTest::newRow("2,255") << (2 << 8 | 255) << "2.25.5";
    QTest::newRow("0,0") << 0 << "0.0.0";
}

void TestUpdaterOutput::versions()
{
    QFETCH(int, version);
    QFETCH(QString, text);
    QCOMPARE(versionText(quint16(version)), text);
    quint16 parsed = 0;
    QVERIFY(parseVersionText(text, &parsed));
    QCOMPARE(parsed, quint16(version));
    for (const char *bad : {"1.2", "1.2.10", "1.26.0", "256.0.0", "a.b.c", "", "1.429496730.0",
                            "1.4294967296.0", "1.25.6", "+1.0.0", "1. 2.0"})
        QVERIFY2(!parseVersionText(bad, &parsed), bad);
}

QTEST_GUILESS_MAIN(TestUpdaterOutput)
#include "test_UpdaterOutput.moc"
