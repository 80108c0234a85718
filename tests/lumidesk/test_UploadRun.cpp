// The upload run and its jobs: the plan in a table, each job's verdict with
// a real child (the stand-in lumiload playing a script) and a stuck
// time-out short enough not to be waited out, a real run that is stopped
// part way, and the summary and CSV it leaves.
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "InterfaceChoice.h"
#include "MainWindow.h"
#include "TimeLeft.h"
#include "UploadJob.h"
#include "UploadRun.h"

class TestUploadRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parallelRun();
    void jobVerdict_data();
    void jobVerdict();
    void plan_data();
    void plan();
    void runStoppedPartWay();
    void timeLeft_data();
    void timeLeft();
    void findsLumiload_data();
    void findsLumiload();
    void preferredInterface_data();
    void preferredInterface();

private:
    QTemporaryDir m_dir;
};

void TestUploadRun::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    UploadJob::setTimeouts(5000, 500);
}

void TestUploadRun::jobVerdict_data()
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

void TestUploadRun::jobVerdict()
{
    QFETCH(QStringList, script);
    QFETCH(bool, succeeded);
    QFETCH(int, stuckSignals);
    QFETCH(int, blockCount);
    QFile file("script-2.0.0.5.txt");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(script.join('\n').toUtf8() + "\n");
    file.close();

    UploadJob job({"2.0.0.5"}, false, nullptr);
    QSignalSpy output(&job, &UploadJob::progressed);
    QSignalSpy stuck(&job, &UploadJob::stuck);
    QSignalSpy ended(&job, &UploadJob::ended);
    QVERIFY(job.start(LUMILOAD_STANDIN, {"-f", "fw.alf", "-d", "2.0.0.5"}));
    QVERIFY(!job.hasEnded());
    job.waitForEnd();
    QCOMPARE(ended.size(), 1);
    QCOMPARE(job.succeeded("2.0.0.5"), succeeded);
    QCOMPARE(stuck.size(), stuckSignals);
    QCOMPARE(job.progress("2.0.0.5").blockCount(), blockCount);
    QCOMPARE(output.isEmpty(), script.first().startsWith("exit"));
    // An ended job's timer is gone: a failure is not reported stuck later.
    if (!succeeded && !output.isEmpty()) {
        QTest::qWait(600);
        QCOMPARE(stuck.size(), stuckSignals);
    }
}

// One child for every fixture; its event lines, interleaved and cut
// anywhere, go to the fixture they name: one confirmed with the version it
// reports, one failed with lumiload's reason, one that falls silent part way
// (reported stuck, failed when the child ends), one never started.
void TestUploadRun::parallelRun()
{
    QFile script("upload.txt");
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write("out # banner\\n2.0.0.21 upload started, blockCount=3\\n2.0.0.22 upload started, bl\n"
                 "out ockCount=3\\n2.0.0.23 upload started, blockCount=3\\n2.0.0.21 block 1 of 3 accepted\\n\n"
                 "out 2.0.0.23 block 1 of 3 accepted\\n\n"
                 "out 2.0.0.22 failed: the fixture rejected block 1 of 3 (reply type 255)\\n\n"
                 "out 2.0.0.21 block 2 of 3 accepted\\n2.0.0.21 block 3 of 3 accepted\\n2.0.0.21 uploaded\\n"
                 "2.0.0.21 waiting for the fixture to restart\\n\nsleep 700\n"
                 "out 2.0.0.21 confirmed: the fixture reports version 1.2.1\\n"
                 "2.0.0.24 not started: 1 fixtures failed (-k 1)\\n# Summary\\n\nexit 1\n");
    script.close();
    // The version a fixture reports, not the image's, is what it runs.
    UploadRun run(LUMILOAD_STANDIN, {"-i", "-f", "fw.alf", "-m"}, "image version", nullptr);
    for (const char *ip : {"2.0.0.21", "2.0.0.22", "2.0.0.23", "2.0.0.24"})
        run.addFixture(ip, ip, "1.0.0");
    run.setParallel(64);
    QStringList order;
    connect(&run, &UploadRun::fixtureEnded, [&](const QString &ip) { order << ip; });
    QSignalSpy stuck(&run, &UploadRun::stuck);
    run.run();
    QCOMPARE(order, QStringList({"2.0.0.22", "2.0.0.21", "2.0.0.24", "2.0.0.23"}));
    QCOMPARE(stuck.size(), 1);
    QCOMPARE(stuck[0][0].toString(), QString("2.0.0.23"));
    const QList<FixtureResult> &r = run.results();
    QCOMPARE(r[0].outcome, FixtureResult::Outcome::Confirmed);
    QCOMPARE(r[0].versionAfter, QString("1.2.1"));
    QVERIFY(r[1].reason.startsWith("The fixture rejected block 1 of 3 (reply type 255, FirmFail). The fixture accepted 0 of 3"));
    QCOMPARE(r[2].outcome, FixtureResult::Outcome::Failed);
    QVERIFY2(r[2].reason.contains("accepted 1 of 3 blocks"), qPrintable(r[2].reason));
    QCOMPARE(r[3].outcome, FixtureResult::Outcome::NotStarted);
    QFile log("calls.log");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("[-m][-p][4][-c][-u][2.0.0.21,2.0.0.22,2.0.0.23,2.0.0.24]"));
}

void TestUploadRun::plan_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("oem");
    QTest::addColumn<int>("esta");
    QTest::addColumn<bool>("force");
    QTest::addColumn<QString>("verdict");   // "update" or the reason it is skipped
    const QString misfit = "Skipped: the image does not fit it";
    QTest::newRow("older") << "1.1.0" << 0x0101 << 0x4D2A << false << "update";
    QTest::newRow("newer is updated: only the same version is skipped") << "1.3.0" << 0x0101 << 0x4D2A << false << "update";
    QTest::newRow("current") << "1.2.0" << 0x0101 << 0x4D2A << false << "Skipped: it already runs v1.2.0";
    QTest::newRow("current, forced") << "1.2.0" << 0x0101 << 0x4D2A << true << "update";
    QTest::newRow("maker's own OEM code") << "1.2.0" << 0x4D2A << 0x4D2A << true << "update";
    QTest::newRow("another model, even forced") << "1.1.0" << 0x0202 << 0x4D2A << true << misfit;
    QTest::newRow("another maker") << "1.1.0" << 0x0101 << 0x2A4D << true << misfit;
    QTest::newRow("unreadable version") << "?" << 0x0101 << 0x4D2A << false << "update";
}

void TestUploadRun::plan()
{
    QFETCH(QString, version);
    QFETCH(int, oem);
    QFETCH(int, esta);
    QFETCH(bool, force);
    QFETCH(QString, verdict);
    FirmwareImage image;
    image.version = 1 << 8 | 20;
    image.oemCodes = {0x0101};
    const UploadPlan plan = planUploads({{"Spot", "2.0.0.5", version, quint16(esta), quint16(oem)}}, image, force);
    if (verdict == "update") {
        QCOMPARE(plan.toUpdate.size(), 1);
        QVERIFY(plan.skipped.isEmpty());
    } else {
        QCOMPARE(plan.skipped.size(), 1);
        QCOMPARE(plan.skipped[0].reason, verdict);
        QCOMPARE(plan.current + plan.notFitting, 1);
    }
}

void TestUploadRun::runStoppedPartWay()
{
    QFile script("upload.txt");
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("out    blockCount=3\\n    progress=F \nsleep 300\nout - LG\\n# Firmware uploaded successfully\\n# Confirmed: the fixture reports version 1.2.0\\n\n");
    script.close();
    QFile failing("script-2.0.0.8.txt");
    QVERIFY(failing.open(QIODevice::WriteOnly));
    failing.write("out    blockCount=3\\n    progress=F -TTT\\n\\n\nexit 1\n");
    failing.close();

    UploadRun run(LUMILOAD_STANDIN, {"-i", "-f", "fw.alf", "-m"}, "1.2.0", nullptr);
    for (const char *ip : {"2.0.0.7", "2.0.0.8", "2.0.0.9"})
        run.addFixture(ip, QString("F ") + ip, "1.0.0");
    int secondsLeft = -2;
    connect(&run, &UploadRun::progressed, [&](const QString &ip) {
        if (ip == "2.0.0.8")
            run.stopAfterCurrent();
        if (ip == "2.0.0.7")
            secondsLeft = run.secondsLeft();
    });
    QSignalSpy started(&run, &UploadRun::fixtureStarted);
    run.run();
    QCOMPARE(started.size(), 2);
    QVERIFY2(secondsLeft >= 0, "an estimate once a block is accepted");
    const QList<FixtureResult> &results = run.results();
    QCOMPARE(results[0].outcome, FixtureResult::Outcome::Confirmed);
    QCOMPARE(results[0].versionAfter, QString("1.2.0"));
    QCOMPARE(results[1].outcome, FixtureResult::Outcome::Failed);
    QVERIFY(results[1].touched);
    QVERIFY(results[1].log.contains("-TTT"));
    QCOMPARE(results[2].outcome, FixtureResult::Outcome::NotStarted);
    QCOMPARE(summaryLine(results), QString("Update finished: 1 updated, 0 skipped as current, 1 failed, 1 not started."));
    QCOMPARE(failureLines(results).size(), 1);
    QVERIFY(failureLines(results)[0].startsWith("2.0.0.8 (F 2.0.0.8): The fixture stopped answering"));

    QString error;
    QVERIFY(!writeCsvReport(m_dir.filePath("missing/report.csv"), {{{}, {}, {}, {}, 0, results}}, &error));
    QVERIFY(!error.isEmpty());
}

// Two fixtures of 10 blocks, a restart wait of 60 s. Each step is "MS",
// or "MS IP STATE BLOCKS" (progress), or "MS IP settled"; after each, the
// time left at MS.
void TestUploadRun::timeLeft_data()
{
    QTest::addColumn<bool>("parallel");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("seconds");
    const QStringList steps = {"0 a run 1", "1000 a run 2", "3000", "9000", "20000", "21000 a wait 10", "51000",
                               "81000", "82000 a settled"};
    // Retries of a block count down to the restart waits still possible;
    // a restart wait counts down from the whole wait; a fixture not yet
    // begun brings its blocks and its whole restart wait.
    QTest::newRow("one by one") << false << steps << QList<int>{-1, 138, 136, 130, 130, 144, 114, 84, 84};
    QTest::newRow("in parallel") << true << steps << QList<int>{-1, 70, 70, 70, 70, 84, 84, 84, 84};
}

void TestUploadRun::timeLeft()
{
    QFETCH(bool, parallel);
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, seconds);
    TimeLeft left(2, parallel, 60000);
    QList<int> shown;
    for (const QString &step : steps) {
        const QStringList words = step.split(' ');
        const qint64 now = words[0].toLongLong();
        if (words.value(2) == "settled")
            left.settled(words[1]);
        else if (words.size() == 4)
            left.progressed(words[1],
                            {words[2] == "wait" ? FixtureState::WaitingForRestart : FixtureState::Running, 10,
                             words[3].toInt(), 1},
                            now);
        shown << left.secondsLeft(now);
    }
    QCOMPARE(shown, seconds);
}

void TestUploadRun::findsLumiload_data()
{
    QTest::addColumn<QString>("in");   // the directory that holds lumiload
    QTest::addColumn<QString>("program");
    QTest::newRow("working directory") << "work" << "./lumiload";
    QTest::newRow("beside the window") << "bin" << "bin/lumiload";
    QTest::newRow("neither") << "" << "./lumiload";
}

void TestUploadRun::findsLumiload()
{
    QFETCH(QString, in);
    QFETCH(QString, program);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("work") && QDir(dir.path()).mkdir("bin"));
    if (!in.isEmpty())
        QVERIFY(QFile::copy(LUMILOAD_STANDIN, dir.filePath(in + "/lumiload")));
    QString lookedIn;
    QCOMPARE(findUpdater(dir.filePath("work"), dir.filePath("bin"), &lookedIn), program.startsWith("bin") ? dir.filePath(program) : program);
    QCOMPARE(lookedIn.contains(dir.filePath("work")) && lookedIn.contains(dir.filePath("bin")), in.isEmpty());
}

void TestUploadRun::preferredInterface_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("chosen");
    QTest::newRow("the last one") << QStringList{"127.0.0.1", "2.0.0.1", "10.0.0.5"} << "10.0.0.5" << 2;
    QTest::newRow("last one gone: Art-Net 2.x") << QStringList{"127.0.0.1", "10.0.0.5", "2.0.0.1"} << "2.9.9.9" << 2;
    QTest::newRow("then 10.x") << QStringList{"127.0.0.1", "192.168.1.5", "10.0.0.5"} << "" << 2;
    QTest::newRow("none of these") << QStringList{"127.0.0.1", "192.168.1.5"} << "" << -1;
}

void TestUploadRun::preferredInterface()
{
    QFETCH(QStringList, addresses);
    QFETCH(QString, last);
    QFETCH(int, chosen);
    QList<InterfaceEntry> entries;
    for (const QString &address : addresses)
        entries.append({address + " (eth)", address});
    QCOMPARE(::preferredInterface(entries, last), chosen);
}

QTEST_GUILESS_MAIN(TestUploadRun)
#include "test_UploadRun.moc"
