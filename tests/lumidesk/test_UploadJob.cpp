// UploadJob with a real child: the stand-in lumiload plays a script, and the
// job must reach the right verdict and report silence, with a stuck time-out
// short enough not to be waited out.
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "UploadJob.h"

class TestUploadJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verdict_data();
    void verdict();
    void childThatCannotStart();

private:
    QTemporaryDir m_dir;
};

void TestUploadJob::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    UploadJob::setTimeouts(5000, 500);
}

void TestUploadJob::verdict_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<int>("stuckSignals");
    QTest::addColumn<int>("blockCount");
    const QString done = "out LG\\n# Firmware uploaded successfully\\n";
    QTest::newRow("success") << QStringList{"out    blockCount=3\\n    progress=F -", "sleep 50", done}
                             << true << 0 << 3;
    QTest::newRow("error exit part way") << QStringList{"out    blockCount=9\\n    progress=F -T", "exit 1"}
                                         << false << 0 << 9;
    QTest::newRow("crash part way") << QStringList{"out    blockCount=9\\n    progress=F - ", "crash"}
                                    << false << 0 << 9;
    QTest::newRow("no output at all") << QStringList{"exit 1"} << false << 0 << 0;
    QTest::newRow("success line without line feed")
        << QStringList{"out    blockCount=2\\n    progress=F LG\\n# Firmware uploaded successfully"} << true
        << 0 << 2;
    QTest::newRow("steady output is never stuck")
        << QStringList{"out    blockCount=6\\n    progress=F ", "sleep 150", "out - ", "sleep 150", "out - ",
                       "sleep 150", "out - ", "sleep 150", "out - ", "sleep 150", done}
        << true << 0 << 6;
    QTest::newRow("silent while flashing, then success")
        << QStringList{"out    blockCount=4\\n    progress=F - - ", "sleep 1000", done} << true << 1 << 4;
    QTest::newRow("success, then a crash") << QStringList{"out    blockCount=2\\n" + done, "crash"} << true
                                           << 0 << 2;
}

void TestUploadJob::verdict()
{
    QFETCH(QStringList, script);
    QFETCH(bool, succeeded);
    QFETCH(int, stuckSignals);
    QFETCH(int, blockCount);
    QFile file("script-2.0.0.5.txt");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(script.join('\n').toUtf8() + "\n");
    file.close();

    UploadJob job("2.0.0.5", nullptr);
    QSignalSpy output(&job, &UploadJob::outputRead);
    QSignalSpy stuck(&job, &UploadJob::stuck);
    QSignalSpy ended(&job, &UploadJob::ended);
    QVERIFY(job.start(LUMILOAD_STANDIN, {"-f", "fw.alf", "-d", "2.0.0.5"}));
    QVERIFY(!job.hasEnded());
    job.waitForEnd();
    QCOMPARE(ended.size(), 1);
    QCOMPARE(job.succeeded(), succeeded);
    QCOMPARE(stuck.size(), stuckSignals);
    QCOMPARE(job.progress().blockCount(), blockCount);
    QCOMPARE(output.isEmpty(), script.first().startsWith("exit"));
    // An ended job's timer is gone: a failure is not reported stuck later.
    if (!succeeded && !output.isEmpty()) {
        QTest::qWait(600);
        QCOMPARE(stuck.size(), stuckSignals);
    }
}

void TestUploadJob::childThatCannotStart()
{
    UploadJob job("2.0.0.5", nullptr);
    QVERIFY(!job.start(m_dir.filePath("missing"), {}));
    QVERIFY(!job.succeeded());
}

QTEST_GUILESS_MAIN(TestUploadJob)
#include "test_UploadJob.moc"
