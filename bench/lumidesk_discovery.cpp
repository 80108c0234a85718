// Benchmark, not a test: a stand-in discovery prints 1000 fixture blocks in
// one write; measures the time from the click on "Discover Fixtures" until
// all rows are in the table, and the longest stretch in which the window's
// event loop did not run (a 5 ms probe timer).
//
//   bench_lumidesk_discovery [fixtures]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "MainWindow.h"

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int fixtures = argc > 1 ? atoi(argv[1]) : 1000;

    // A stand-in ./lumiload that prints the whole report in one write.
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QFile standIn("lumiload");
    standIn.open(QIODevice::WriteOnly);
    standIn.write("#!/bin/sh\nexec cat blocks.txt\n");
    standIn.close();
    standIn.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QByteArray report = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\n"
                        "# No ALF file supplied with -f, performing fixture poll without update.\n";
    for (int i = 0; i < fixtures; ++i) {
        const QByteArray ip = "2." + QByteArray::number(i / 65536) + "." +
                              QByteArray::number(i / 256 % 256) + "." + QByteArray::number(i % 256);
        report += "Fixture detected:\n    ip=" + ip +
                  "\n    mac=00:11:22:33:44:55\n    estaMan=0x4d2a\n    oemCode=0x0101\n"
                  "    version=1.2.3\n    portName=Spot\n    longName=Spot " +
                  QByteArray::number(i + 1) + "\n";
    }
    report += "\n";
    QFile blocks("blocks.txt");
    blocks.open(QIODevice::WriteOnly);
    blocks.write(report);
    blocks.close();

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "window not exposed\n");
    QTableWidget *table = window.findChild<QTableWidget *>("deviceTable");
    QPushButton *run = window.findChild<QPushButton *>("runButton");

    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });

    clock.start();
    probe.start();
    QTest::mouseClick(run, Qt::LeftButton);
    while (table->rowCount() < fixtures && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 filled = clock.elapsed();
    QTest::qWait(50);
    std::printf("%d rows in %lld ms after the click; longest event-loop stall %lld ms\n",
                table->rowCount(), static_cast<long long>(filled),
                static_cast<long long>(longestGap));
    return table->rowCount() == fixtures ? 0 : 1;
}
