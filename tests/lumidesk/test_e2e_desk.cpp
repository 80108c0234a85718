// End to end: the window with the real lumiload against four virtual
// fixtures, inside a private pair of network namespaces made by
// scripts/netns.sh (controller 2.0.0.1, fixtures 2.0.0.10 to 2.0.0.13).
// The test process itself moves into the controller namespace before the
// application starts, so the window and every lumiload it starts see only
// that namespace's lo and veth0. Needs root; exits with 77 (skipped)
// elsewhere.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkInterface>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "DeskStyle.h"
#include "MainWindow.h"
#include "UploadJob.h"
#include "alfgen.h"
#include "desk_test_support.h"
#include "harness.h"

static Netns g_net;

class TestE2eDesk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void discoversAndUpdatesFourFixtures();
    void checksTheNetworkAndLocatesAFixture();
    void updatesTwoModelsFromAFolder();

private:
    TempDir m_dir;
    VirtualFixtures m_fixtures;
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
    QCOMPARE(addresses, QStringList({"127.0.0.1", "2.0.0.1"}));
    // Each restarts in 0.3 s; the second rejects the fourth block with
    // FirmFail, the third answers every poll by broadcast (an Art-Net 3
    // node, also when polled alone with -d) and its first last block 2.5 s
    // late (a second more than the window waits before it calls a fixture
    // quiet), the fourth comes back with its old firmware every time.
    UploadJob::setTimeouts(30000, 1000);
    std::vector<std::string> specs;
    for (const char *fixture : {"bind=2.0.0.10", "bind=2.0.0.11,fault=3:type=fail",
                                "bind=2.0.0.12,reply=broadcast,fault=last:delay=2500",
                                "bind=2.0.0.13,fault=reboot:old*all"})
        specs.push_back(std::string(fixture) + ",version=1.1.0,reboot=300,bcast=2.255.255.255");
    QVERIFY2(m_fixtures.start(m_dir.path, specs, g_net.in("f")), m_fixtures.error.c_str());
}

void TestE2eDesk::discoversAndUpdatesFourFixtures()
{
    const QString image = QString::fromStdString(m_dir.path + "/fw.alf");
    write_image(image.toStdString(), 1, 20, 20000);

    // The window starts lumiload as ./lumiload from its working directory.
    QVERIFY(QDir::setCurrent(LUMI_BIN_DIR));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *nic = window.findChild<QComboBox *>("nicComboBox");
    auto *table = window.findChild<QTableWidget *>("deviceTable");
    auto *run = window.findChild<QPushButton *>("runButton");
    // The Art-Net network's interface is offered first.
    QCOMPARE(nic->currentData().toString(), QString("2.0.0.1"));

    ModalCatcher catcher;
    QTest::mouseClick(run, Qt::LeftButton);
    auto *discovery = window.findChild<QProcess *>("process");
    QTRY_COMPARE_WITH_TIMEOUT(discovery->state(), QProcess::NotRunning, 20000);
    QTest::qWait(100);
    QCOMPARE(table->rowCount(), 4);
    QStringList ips;
    for (int row = 0; row < 4; ++row) {
        ips << table->item(row, 1)->text();
        QCOMPARE(table->item(row, 2)->text(), QString("1.1.0"));
    }
    ips.sort();
    QCOMPARE(ips, QStringList({"2.0.0.10", "2.0.0.11", "2.0.0.12", "2.0.0.13"}));

    catcher.fileDialog = [image](QFileDialog *dialog) { pickFile(dialog, image); };
    QTest::mouseClick(window.findChild<QPushButton *>("browseButton"), Qt::LeftButton);
    QCOMPARE(window.findChild<QLabel *>("versionLabel")->text(), QString("Target Version: v1.2.0"));

    QTest::mouseClick(window.findChild<QPushButton *>("selectAllButton"), Qt::LeftButton);
    QCOMPARE(table->selectionModel()->selectedRows().size(), 4);
    window.findChild<QCheckBox *>("fileUpdateCheckBox")->click();
    QCOMPARE(run->text(), QString("Upload to Fixtures"));
    int slowRow = 0;
    while (table->item(slowRow, 1)->text() != "2.0.0.12")
        ++slowRow;
    BarWatcher slow(qobject_cast<QProgressBar *>(table->cellWidget(slowRow, 3)));
    QTest::mouseClick(run, Qt::LeftButton); // returns when every upload has ended

    // One confirmation, then one summary naming the fixtures that failed and
    // why: the one that rejected a block was touched, the one that came back
    // with its old firmware took every block. The slow one waited, never red.
    QCOMPARE(catcher.boxes.size(), 2);
    QCOMPARE(catcher.boxes[0].text, QString("Update 4 fixtures to v1.2.0?"));
    QCOMPARE(catcher.boxes[1].text, QString("Some devices failed to update. Please check the table for details."));
    const QMap<QString, QString> reasons1 = {
        {"2.0.0.11", "The fixture rejected block 4 of 41 (reply type 255, FirmFail). The fixture "
                     "accepted 3 of 41 blocks before the failure and may be half-written: update it again."},
        {"2.0.0.13", "The fixture came back with version 1.1.0, not 1.2.0. The fixture took every block: update it again."}};
    QCOMPARE(catcher.boxes[1].informative, "Update finished: 2 updated, 0 skipped as current, 2 failed.\n\n2.0.0.11 "
                                           "(Virtual fixture 2.0.0.11): " + reasons1["2.0.0.11"] + "\n2.0.0.13 "
                                           "(Virtual fixture 2.0.0.13): " + reasons1["2.0.0.13"]);
    QVERIFY2(slow.states.contains("40/41 No reply yet") && slow.states.filter("Failed").isEmpty(),
             qPrintable(slow.states.join(" | ")));
    for (int row = 0; row < 4; ++row) {
        auto *bar = qobject_cast<QProgressBar *>(table->cellWidget(row, 3));
        const QString ip = table->item(row, 1)->text();
        QCOMPARE(bar->format(), QString(reasons1.contains(ip) ? "Upload Failed" : "Upload Successful"));
        QCOMPARE(bar->value(), ip == "2.0.0.11" ? 3 : bar->maximum());
        QCOMPARE(table->item(row, 2)->text(), QString(reasons1.contains(ip) ? "1.1.0" : "1.2.0"));
        QCOMPARE(table->item(row, 4)->toolTip(), reasons1.value(ip));
    }
    const QString screenshot = qEnvironmentVariable("LUMIDESK_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        table->scrollToTop();
        QTest::qWait(100);
        window.grab().save(screenshot);
    }

    // The fixtures now report their versions themselves: the ones that
    // failed still run their old firmware, as their rows said.
    // (A fixture answers no poll while it restarts.)
    QTest::qWait(400);
    QTest::mouseClick(run, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(discovery->state(), QProcess::NotRunning, 20000);
    QTest::qWait(100);
    const QMap<QString, QString> after = {{"2.0.0.10", "1.2.0"}, {"2.0.0.11", "1.1.0"}, {"2.0.0.12", "1.2.0"},
                                          {"2.0.0.13", "1.1.0"}};
    for (int row = 0; row < 4; ++row)
        QCOMPARE(table->item(row, 2)->text(), after[table->item(row, 1)->text()]);

    // In parallel, each confirmed by the version it reports after its
    // restart: the revert is caught, and the others are unaffected.
    const QString next = QString::fromStdString(m_dir.path + "/fw130.alf");
    write_image(next.toStdString(), 1, 30, 20000);
    window.findChild<QLineEdit *>("filePathEdit")->setText(next);
    window.findChild<QCheckBox *>("parallelCheckBox")->click();
    table->clearSelection();
    QTest::mouseClick(window.findChild<QPushButton *>("selectAllButton"), Qt::LeftButton);
    window.findChild<QCheckBox *>("fileUpdateCheckBox")->click();
    QTest::mouseClick(run, Qt::LeftButton);
    QCOMPARE(catcher.boxes.size(), 4);
    QCOMPARE(catcher.boxes[2].text, QString("Update 4 fixtures to v1.3.0?"));
    QVERIFY2(catcher.boxes[3].informative.startsWith("Update finished: 2 updated, 0 skipped as current, 2 failed."),
             qPrintable(catcher.boxes[3].informative));
    const QMap<QString, QString> reasons = {
        {"2.0.0.10", ""}, {"2.0.0.12", ""},
        {"2.0.0.11", reasons1["2.0.0.11"]},   // in the same words as one by one
        {"2.0.0.13", "The fixture came back with version 1.1.0, not 1.3.0."}};
    for (int row = 0; row < 4; ++row) {
        const QString ip = table->item(row, 1)->text();
        auto *bar = qobject_cast<QProgressBar *>(table->cellWidget(row, 3));
        QVERIFY2(reasons[ip].isEmpty() ? bar->toolTip().isEmpty() : bar->toolTip().startsWith(reasons[ip]),
                 qPrintable(ip + ": " + bar->toolTip()));
        QCOMPARE(bar->format(), QString(reasons[ip].isEmpty() ? "Upload Successful" : "Upload Failed"));
        QCOMPARE(table->item(row, 2)->text(), QString(reasons[ip].isEmpty() ? "1.3.0" : after[ip]));
    }
}

// The check finds nothing in the way; a row's locate reaches its fixture,
// and closing the window ends it.
void TestE2eDesk::checksTheNetworkAndLocatesAFixture()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *run = window.findChild<QPushButton *>("runButton");
    QTest::mouseClick(window.findChild<QPushButton *>("checkNetworkButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(run->isEnabled(), 20000);
    QCOMPARE(window.findChild<QLabel *>("checkSummary")->text(), QString("Nothing stands in the way of an update."));
    QCOMPARE(window.findChild<QLabel *>("checkDetails")->text(), QString("Checked veth0 (2.0.0.1): 4 fixtures answered."));

    QTest::mouseClick(run, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(run->isEnabled(), 20000);
    auto *table = window.findChild<QTableWidget *>("deviceTable");
    const QPoint where = table->visualItemRect(table->item(0, 1)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, where, table->viewport()->mapToGlobal(where));
    QApplication::sendEvent(table->viewport(), &event);
    window.findChild<QMenu *>("rowMenu")->actions().first()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(run->isEnabled(), 20000);
    QVERIFY(!table->item(0, 0)->icon().isNull());
    QVERIFY(window.close());
    const QString log = QString::fromStdString(m_fixtures.log());
    QCOMPARE(log.count("locate on"), 1);
    QCOMPARE(log.count("locate off"), 1);
}

// A rig of two models and one no image fits: a firmware folder, a
// discovery whose plan gives each model its own image, and one parallel run
// with a test group of one that updates both models.
void TestE2eDesk::updatesTwoModelsFromAFolder()
{
    m_fixtures.stop();
    std::vector<std::string> specs;
    for (const char *fixture : {"bind=2.0.0.10,oem=0x0101", "bind=2.0.0.11,oem=0x0202", "bind=2.0.0.12,oem=0x0303"})
        specs.push_back(std::string(fixture) + ",version=1.1.0,reboot=300,bcast=2.255.255.255");
    QVERIFY2(m_fixtures.start(m_dir.path, specs, g_net.in("f")), m_fixtures.error.c_str());
    const QString folder = QString::fromStdString(m_dir.path + "/rig");
    QVERIFY(QDir().mkpath(folder));
    for (const auto &[file, oem, lo] : {std::tuple{"spot.alf", 0x0101, 20}, std::tuple{"wash.alf", 0x0202, 30}}) {
        AlfImageSpec spec;
        spec.version_lo = uint8_t(lo);
        spec.oem_slots = {uint16_t(oem)};
        spec.data = pseudo_random_data(4000 + 2000 * uint32_t(oem >> 8), uint32_t(oem));
        QVERIFY(write_binary_file((folder + "/" + file).toStdString(), make_alf_image(spec)));
    }

    QVERIFY(QDir::setCurrent(LUMI_BIN_DIR));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *table = window.findChild<QTableWidget *>("deviceTable");
    auto *run = window.findChild<QPushButton *>("runButton");
    ModalCatcher catcher;
    catcher.fileDialog = [folder](QFileDialog *dialog) { pickFile(dialog, folder); };
    QTest::mouseClick(window.findChild<QPushButton *>("browseFolderButton"), Qt::LeftButton);
    window.findChild<QCheckBox *>("parallelCheckBox")->setChecked(true);
    window.findChild<QSpinBox *>("testGroupSpinBox")->setValue(1);
    QTest::mouseClick(run, Qt::LeftButton);
    auto *discovery = window.findChild<QProcess *>("process");
    QTRY_COMPARE_WITH_TIMEOUT(discovery->state(), QProcess::NotRunning, 20000);
    QTest::qWait(100);
    QCOMPARE(table->rowCount(), 3);
    const QMap<QString, QString> images = {{"2.0.0.10", "spot.alf 1.2.0"}, {"2.0.0.11", "wash.alf 1.3.0"}, {"2.0.0.12", "No image"}};
    for (int row = 0; row < 3; ++row)
        QCOMPARE(table->item(row, 5)->text(), images[table->item(row, 1)->text()]);

    QTest::mouseClick(window.findChild<QPushButton *>("selectAllButton"), Qt::LeftButton);
    window.findChild<QCheckBox *>("fileUpdateCheckBox")->click();
    QTest::mouseClick(run, Qt::LeftButton);
    QCOMPARE(catcher.boxes.size(), 1);   // the plan, and no failure
    QCOMPARE(catcher.boxes[0].text, QString("Update 2 fixtures from the firmware folder?"));
    QVERIFY2(catcher.boxes[0].informative.startsWith("Plan: 2 update, 1 no image\n") &&
                 catcher.boxes[0].informative.contains("\nFirst 1 as a test: "),
             qPrintable(catcher.boxes[0].informative));
    const QMap<QString, QString> after = {{"2.0.0.10", "1.2.0"}, {"2.0.0.11", "1.3.0"}, {"2.0.0.12", "1.1.0"}};
    for (int row = 0; row < 3; ++row) {
        const QString ip = table->item(row, 1)->text();
        auto *bar = qobject_cast<QProgressBar *>(table->cellWidget(row, 3));
        QCOMPARE(bar->format(), QString(ip == "2.0.0.12" ? "Does Not Fit" : "Upload Successful"));
        QCOMPARE(table->item(row, 2)->text(), after[ip]);
    }
    QCOMPARE(window.findChild<QLabel *>("statusLabel")->text(),
             QString("Update finished: 2 updated, 0 skipped as current, 0 failed, 1 not fitting the image."));
}

int main(int argc, char **argv)
{
    const std::string reason = netns_unavailable_reason();
    if (!reason.empty()) {
        std::printf("SKIP: %s\n", reason.c_str());
        return 77;
    }
    if (!g_net.up("2.0.0.1/8", {"2.0.0.10/8", "2.0.0.11/8", "2.0.0.12/8", "2.0.0.13/8"})) {
        std::printf("FAIL: %s\n", g_net.error.c_str());
        return 1;
    }
    // Enter the controller namespace before any thread exists; everything
    // started from here on inherits it.
    const int fd = open(("/var/run/netns/" + g_net.name + "-c").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
        std::perror("setns");
        return 1;
    }
    close(fd);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (qEnvironmentVariableIsSet("LUMIDESK_SCREENSHOT"))
        applyDeskStyle();  // the README picture shows the real look
    TestE2eDesk test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_e2e_desk.moc"
