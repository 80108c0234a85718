// The window's check of a chosen image: the same verdicts as lumiload's
// reader on images built by the project's generator, and the version texts.
#include <QTemporaryDir>
#include <QtTest>

#include "FirmwareImage.h"
#include "alfgen.h"

class TestFirmwareImage : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void versions_data();
    void versions();
    void fits();
};

void TestFirmwareImage::check_data()
{
    QTest::addColumn<int>("change");   // 0 none, 1 bad checksum, 2 extra byte, 3 cut to 100 bytes, 4 missing
    QTest::addColumn<QString>("problem");
    QTest::newRow("good") << 0 << "";
    QTest::newRow("checksum") << 1 << "checksum is wrong";
    QTest::newRow("one byte more") << 2 << "expected 1062 bytes, found 1063";
    QTest::newRow("short") << 3 << "too short";
    QTest::newRow("missing") << 4 << "cannot be opened";
}

void TestFirmwareImage::check()
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

void TestFirmwareImage::versions_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("text");
    QTest::newRow("1,20") << (1 << 8 | 20) << "1.2.0";
    QTest::newRow("2,23") << (2 << 8 | 23) << "2.2.3";
    QTest::newRow("1,200") << (1 << 8 | 200) << "1.20.0";
    QTest::newRow("2,255") << (2 << 8 | 255) << "2.25.5";
    QTest::newRow("0,0") << 0 << "0.0.0";
}

void TestFirmwareImage::versions()
{
    QFETCH(int, version);
    QFETCH(QString, text);
    QCOMPARE(versionText(quint16(version)), text);
    quint16 parsed = 0;
    QVERIFY(parseVersionText(text, &parsed));
    QCOMPARE(parsed, quint16(version));
    for (const char *bad : {"1.2", "1.2.10", "1.26.0", "256.0.0", "a.b.c", "", "1.429496730.0"})
        QVERIFY2(!parseVersionText(bad, &parsed), bad);
}

void TestFirmwareImage::fits()
{
    FirmwareImage image;
    image.oemCodes = {0x0101};
    QVERIFY(image.fits(0x4D2A, 0x0101));
    QVERIFY(image.fits(0x4D2A, 0x4D2A));   // the maker's own OEM code fits every image
    QVERIFY(!image.fits(0x4D2A, 0x0102));
    QVERIFY(!image.fits(0x2A4D, 0x0101));
    QVERIFY(!FirmwareImage().fits(0x4D2A, 0x0101));
}

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "test_FirmwareImage.moc"
