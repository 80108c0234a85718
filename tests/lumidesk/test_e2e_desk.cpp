// End to end: the window with the real lumiload against three virtual
// fixtures, inside a private pair of network namespaces made by
// scripts/netns.sh (controller 2.0.0.1, fixtures 2.0.0.10 to 2.0.0.12).
// The test process itself moves into the controller namespace before the
// application starts, so the window and every lumiload it starts see only
// that namespace's lo and veth0. Needs root; exits with 77 (skipped)
// elsewhere.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QNetworkInterface>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "MainWindow.h"
#include "desk_test_support.h"

static QString g_name;     // namespace pair name, lumi-<pid>-desk
static QString g_bin;      // build/bin
static QString g_netns;    // scripts/netns.sh

// For the set-up and tear-down outside the application.
static int shell(const QString &command)
{
    const int status = std::system(command.toUtf8().constData());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

static int run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000))
        return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

class TestE2eDesk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void discoversAndUpdatesThreeFixtures();

private:
    QProcess m_fixtures;
    QTemporaryDir m_dir;
};

void TestE2eDesk::initTestCase()
{
    // Only the namespace's own interfaces may be visible.
    QStringList addresses;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry &entry : iface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                addresses << entry.ip().toString();
    addresses.sort();
    if (addresses != QStringList({"127.0.0.1", "2.0.0.1"}))
        qFatal("not inside the test namespace: %s", qPrintable(addresses.join(' ')));

    m_fixtures.setProcessChannelMode(QProcess::MergedChannels);
    // For the README picture (LUMIDESK_SCREENSHOT) every block is answered
    // late, so that an upload is caught half way.
    QString spec = "3,2.0.0.10,version=1.1.0,bcast=2.255.255.255";
    if (qEnvironmentVariableIsSet("LUMIDESK_SCREENSHOT"))
        spec += ",fault=all:delay=30*all";
    m_fixtures.start("ip", {"netns", "exec", g_name + "-f", g_bin + "/vfixture", "--many", spec});
    QVERIFY(m_fixtures.waitForStarted(10000));
    QByteArray log;
    QVERIFY(QTest::qWaitFor([&] {
        log += m_fixtures.readAll();
        return log.contains("ready 3 fixtures") || m_fixtures.state() == QProcess::NotRunning;
    }, 10000));
    QVERIFY2(log.contains("ready 3 fixtures"), log.constData());
}

void TestE2eDesk::cleanupTestCase()
{
    if (m_fixtures.state() != QProcess::NotRunning) {
        m_fixtures.terminate();
        if (!m_fixtures.waitForFinished(3000))
            m_fixtures.kill();
        m_fixtures.waitForFinished(3000);
    }
}

void TestE2eDesk::discoversAndUpdatesThreeFixtures()
{
    const QString image = m_dir.filePath("fw.alf");
    QCOMPARE(run(g_bin + "/make_alf", {"-o", image, "--version", "1.2.0", "--words", "20000",
                                       "--name", "desk-e2e"}),
             0);

    // The window starts lumiload as ./lumiload from its working directory.
    QVERIFY(QDir::setCurrent(g_bin));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *nic = window.findChild<QComboBox *>("nicComboBox");
    auto *table = window.findChild<QTableWidget *>("deviceTable");
    auto *run = window.findChild<QPushButton *>("runButton");
    nic->setCurrentIndex(nic->findText("2.0.0.1"));
    QCOMPARE(nic->currentText(), QString("2.0.0.1"));

    ModalCatcher catcher(&window);
    QTest::mouseClick(run, Qt::LeftButton);
    auto *discovery = window.findChild<QProcess *>("process");
    QTRY_COMPARE_WITH_TIMEOUT(discovery->state(), QProcess::NotRunning, 20000);
    QTest::qWait(100);
    QCOMPARE(table->rowCount(), 3);
    QStringList ips;
    for (int row = 0; row < 3; ++row) {
        ips << table->item(row, 1)->text();
        QCOMPARE(table->item(row, 2)->text(), QString("1.1.0"));
    }
    ips.sort();
    QCOMPARE(ips, QStringList({"2.0.0.10", "2.0.0.11", "2.0.0.12"}));

    catcher.fileDialog = [image](QFileDialog *dialog) { pickFile(dialog, image); };
    QTest::mouseClick(window.findChild<QPushButton *>("browseButton"), Qt::LeftButton);
    QCOMPARE(window.findChild<QLabel *>("versionLabel")->text(), QString("Target Version: v1.2.0"));

    QTest::mouseClick(window.findChild<QPushButton *>("selectAllButton"), Qt::LeftButton);
    QCOMPARE(table->selectionModel()->selectedRows().size(), 3);
    window.findChild<QCheckBox *>("fileUpdateCheckBox")->click();
    QCOMPARE(run->text(), QString("Upload to Fixtures"));
    QTimer shooter;
    const QString screenshot = qEnvironmentVariable("LUMIDESK_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        table->clearSelection();
        table->selectRow(0);
        table->selectRow(1);
        table->selectRow(2);
        auto *first = qobject_cast<QProgressBar *>(table->cellWidget(0, 3));
        shooter.setInterval(20);
        connect(&shooter, &QTimer::timeout, [&shooter, &window, first, screenshot] {
            // Range set from the image's block count, bar about half way.
            if (first->maximum() != 100 && first->value() > first->maximum() * 2 / 5) {
                shooter.stop();
                window.grab().save(screenshot);
            }
        });
        shooter.start();
    }
    QTest::mouseClick(run, Qt::LeftButton); // returns when every upload has ended

    for (const BoxRecord &box : catcher.boxes)
        qWarning() << "box:" << box.title << box.text;
    QVERIFY(catcher.boxes.isEmpty());
    for (int row = 0; row < 3; ++row) {
        auto *bar = qobject_cast<QProgressBar *>(table->cellWidget(row, 3));
        QCOMPARE(bar->format(), QString("Upload Successful"));
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(table->item(row, 2)->text(), QString("1.2.0"));
    }

    // The fixtures now report the new version themselves.
    QTest::mouseClick(run, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(discovery->state(), QProcess::NotRunning, 20000);
    QTest::qWait(100);
    QCOMPARE(table->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        QCOMPARE(table->item(row, 2)->text(), QString("1.2.0"));
}

int main(int argc, char **argv)
{
    g_bin = QStringLiteral(LUMI_BIN_DIR);
    g_netns = QStringLiteral(LUMI_NETNS_SCRIPT);
    g_name = QString("lumi-%1-desk").arg(getpid());
    if (geteuid() != 0) {
        std::printf("SKIP: needs root for network namespaces\n");
        return 77;
    }
    if (shell("ip netns list >/dev/null 2>&1") != 0) {
        std::printf("SKIP: ip netns is not available\n");
        return 77;
    }
    for (const char *program : {"lumiload", "vfixture", "make_alf"}) {
        if (!QFile::exists(g_bin + "/" + program)) {
            std::printf("SKIP: %s is not built\n", program);
            return 77;
        }
    }
    shell(g_netns + " cleanup");
    if (shell(g_netns + " up " + g_name + " 2.0.0.1/8 2.0.0.10/8 2.0.0.11/8 2.0.0.12/8") != 0) {
        std::printf("FAIL: could not create the namespaces\n");
        shell(g_netns + " down " + g_name);
        return 1;
    }

    // Enter the controller namespace before any thread exists; everything
    // started from here on inherits it.
    int status = 1;
    const QByteArray path = ("/var/run/netns/" + g_name + "-c").toUtf8();
    const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && setns(fd, CLONE_NEWNET) == 0) {
        close(fd);
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        if (qEnvironmentVariableIsSet("LUMIDESK_SCREENSHOT"))
            applyDeskLook();
        TestE2eDesk test;
        status = QTest::qExec(&test, argc, argv);
    } else {
        std::perror("setns");
        if (fd >= 0)
            close(fd);
    }
    shell(g_netns + " down " + g_name);
    return status;
}

#include "test_e2e_desk.moc"
