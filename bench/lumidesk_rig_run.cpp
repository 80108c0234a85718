// Benchmark, not a test: the window following a parallel update of a rig.
// A stand-in ./lumiload lists N fixtures (default 1000) to the discovery
// and then plays the event lines of a confirmed parallel run of a 100-block
// image to all of them, in chunks every 50 ms over about seven seconds, the
// pace of a real run of 1000 fixtures. Measures the longest stretch in
// which the window's event loop did not run (a 5 ms probe timer), the time
// from the click on the run button until the last bar shows its verdict,
// and the window's CPU time over the run. Offscreen platform, nothing on
// the network.
//
//   bench_lumidesk_rig_run [fixtures]
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

#include "MainWindow.h"
#include "alfgen.h"
#include "desk_test_support.h"

namespace {

const int BLOCKS = 100;
const int CHUNKS = 140;  // one every 50 ms: 7 s

QByteArray address(int i)
{
    return "2.1." + QByteArray::number((i + 1) / 256) + "." + QByteArray::number((i + 1) % 256);
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

// The stand-in's files: the discovery report, and the run's event lines
// in chunks, interleaved as a parallel run interleaves its fixtures.
void writeStandIn(int fixtures)
{
    QByteArray report = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\n"
                        "# No ALF file supplied with -f, performing fixture poll without update.\n";
    for (int i = 0; i < fixtures; ++i)
        report += "Fixture detected:\n    ip=" + address(i) +
                  "\n    mac=02:00:02:01:00:00\n    estaMan=0x4d2a\n    oemCode=0x0101\n    version=1.1.0\n"
                  "    portName=Spot\n    longName=Spot " + QByteArray::number(i + 1) + "\n";
    writeFile("blocks.txt", report + "\n");

    QList<QByteArray> lines;
    for (int i = 0; i < fixtures; ++i)
        lines += address(i) + " upload started, blockCount=" + QByteArray::number(BLOCKS) + "\n";
    for (int block = 1; block <= BLOCKS; ++block)
        for (int i = 0; i < fixtures; ++i)
            lines += address(i) + " block " + QByteArray::number(block) + " of " + QByteArray::number(BLOCKS) + " accepted\n";
    for (int i = 0; i < fixtures; ++i)
        lines += address(i) + " uploaded\n" + address(i) + " waiting for the fixture to restart\n";
    for (int i = 0; i < fixtures; ++i)
        lines += address(i) + " confirmed: the fixture reports version 1.2.0\n";
    QByteArray summary = "# Summary\n";
    for (int i = 0; i < fixtures; ++i)
        summary += "    " + address(i) + " result=confirmed before=1.1.0 after=1.2.0 seconds=6.8 retries=0\n";
    const int perChunk = (lines.size() + CHUNKS - 1) / CHUNKS;
    for (int chunk = 0; chunk < CHUNKS; ++chunk) {
        QByteArray bytes;
        for (int i = chunk * perChunk; i < std::min<int>(lines.size(), (chunk + 1) * perChunk); ++i)
            bytes += lines[i];
        writeFile(QString("run.%1").arg(chunk, 3, 10, QChar('0')), chunk + 1 == CHUNKS ? bytes + summary : bytes);
    }
    writeFile("lumiload", "#!/bin/sh\ncase \" $* \" in\n  *\" -p \"*) for f in run.*; do cat \"$f\"; sleep 0.05; done ;;\n"
                          "  *) exec cat blocks.txt ;;\nesac\n");
    QFile::setPermissions("lumiload", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    AlfImageSpec spec;
    spec.version_hi = 1;
    spec.version_lo = 20;
    spec.oem_slots = {0x0101};
    spec.data = pseudo_random_data(BLOCKS * 512 - 600, 1);
    write_binary_file("fw.alf", make_alf_image(spec));
}

}  // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int fixtures = argc > 1 ? atoi(argv[1]) : 1000;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    writeStandIn(fixtures);
    QSettings().setValue("lastInterface", "127.0.0.1");

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "window not exposed\n");
    auto *table = window.findChild<QTableWidget *>("deviceTable");
    auto *run = window.findChild<QPushButton *>("runButton");
    ModalCatcher boxes;
    QTest::mouseClick(run, Qt::LeftButton);
    QElapsedTimer wait;
    wait.start();
    while ((table->rowCount() < fixtures || !run->isEnabled()) && wait.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    window.findChild<QLineEdit *>("filePathEdit")->setText(QDir::current().absoluteFilePath("fw.alf"));
    window.findChild<QCheckBox *>("parallelCheckBox")->setChecked(true);
    QTest::mouseClick(window.findChild<QPushButton *>("selectAllButton"), Qt::LeftButton);
    window.findChild<QCheckBox *>("fileUpdateCheckBox")->click();

    QElapsedTimer clock;
    qint64 lastTick = 0, longestGap = 0;
    QList<QPair<qint64, qint64>> gaps;  // (length, when it ended), the longest ones
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - lastTick);
        if (now - lastTick > 30)
            gaps.append({now - lastTick, now});
        lastTick = now;
    });
    const double cpuBefore = cpuSeconds();
    clock.start();
    probe.start();
    // The confirmation is answered by the catcher; the click returns once
    // the run has ended.
    QTest::mouseClick(run, Qt::LeftButton);
    while (!run->isEnabled() && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 ended = clock.elapsed();
    const double cpu = cpuSeconds() - cpuBefore;
    int updated = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        auto *bar = qobject_cast<QProgressBar *>(table->cellWidget(row, 3));
        updated += bar && bar->format() == "Upload Successful";
    }
    std::printf("%d of %d rows shown as updated, run followed in %lld ms after the click (the stand-in plays 7 s); "
                "longest event-loop stall %lld ms; window CPU %.2f s over the run\n",
                updated, fixtures, static_cast<long long>(ended), static_cast<long long>(longestGap), cpu);
    for (const auto &gap : gaps)
        std::printf("  stall of %lld ms, ending %lld ms after the click\n", static_cast<long long>(gap.first),
                    static_cast<long long>(gap.second));
    return updated == fixtures ? 0 : 1;
}
