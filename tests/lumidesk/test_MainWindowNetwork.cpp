// The window's network check and a row's locate, driven through the real
// widgets, with the stand-in ./lumiload playing check.txt for -N and
// locate.txt for -L (see lumiload_standin.cpp).
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "MainWindow.h"
#include "alfgen.h"
#include "desk_test_support.h"

namespace {

QString fixtureBlock(const QString &ip, const QString &name)
{
    return "Fixture detected:\\n    ip=" + ip + "\\n    mac=00:11:22:33:44:55\\n    estaMan=0x4d2a\\n"
           "    oemCode=0x0101\\n    version=1.0.0\\n    portName=Spot\\n    longName=" + name + "\\n";
}

QString json(const QString &type, const QString &members)
{
    return "out {\"type\":\"" + type + "\"" + (members.isEmpty() ? "" : "," + members) + "}\\n";
}

QString problem(const QString &kind, const QString &address, const QString &text)
{
    return json("check-problem", QString("\"kind\":\"%1\",\"address\":\"%2\",\"text\":\"%3\",\"fix\":\"lumiload's fix\"")
                                     .arg(kind, address, text));
}

const QString kChoice = json("check-choice", "\"name\":\"eth0\",\"address\":\"127.0.0.1\",\"why\":\"named with -s\"");
const QString kFixture = json("check-fixture", "\"address\":\"127.0.0.5\"");

} // namespace

class TestMainWindowNetwork : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void checkShowsEachFindingWithItsFix_data();
    void checkShowsEachFindingWithItsFix();
    void emptyDiscoveryChecksTheNetwork();
    void locateFromARowLeavesTheSelection();
    void locatesEndWhenARunStartsAndAtTheEnd();

private:
    template <typename T> T *widget(const char *name)
    {
        T *w = m_window->findChild<T *>(name);
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    QTableWidget *table() { return widget<QTableWidget>("deviceTable"); }
    void writeScript(const QString &name, const QStringList &commands);
    QStringList calls() const;
    void discover(const QString &report);
    // The text of the row's menu entry, after choosing it and waiting for
    // its lumiload.
    QString locate(int row);
    QStringList findings();

    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindow *m_window = nullptr;
    std::unique_ptr<ModalCatcher> m_boxes;
};

void TestMainWindowNetwork::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(QFile::copy(LUMILOAD_STANDIN, "lumiload"));
    QFile::setPermissions("lumiload", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings("YourCompanyName", "YourAppName").setValue("lastInterface", "127.0.0.1");
    m_boxes = std::make_unique<ModalCatcher>();
    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestMainWindowNetwork::cleanup()
{
    delete m_window;
    m_boxes.reset();
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TestMainWindowNetwork::writeScript(const QString &name, const QStringList &commands)
{
    QVERIFY(writeStandInScript(name, commands));
}

QStringList TestMainWindowNetwork::calls() const
{
    return standInCalls();
}

void TestMainWindowNetwork::discover(const QString &report)
{
    writeScript("discover.txt", {"out " + report});
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(widget<QProcess>("process")->state(), QProcess::NotRunning, 10000);
    QTRY_VERIFY(widget<QPushButton>("runButton")->isEnabled());   // a check it started has ended too
}

QString TestMainWindowNetwork::locate(int row)
{
    const QPoint where = table()->visualItemRect(table()->item(row, 1)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, where, table()->viewport()->mapToGlobal(where));
    QApplication::sendEvent(table()->viewport(), &event);
    QMenu *menu = m_window->findChild<QMenu *>("rowMenu");
    if (!menu || menu->actions().size() != 1)
        return "no menu";
    const QString text = menu->actions().first()->text();
    menu->actions().first()->trigger();
    menu->close();
    QPushButton *run = widget<QPushButton>("runButton");
    return QTest::qWaitFor([run] { return run->isEnabled(); }, 10000) ? text : "still running";
}

QStringList TestMainWindowNetwork::findings()
{
    QStringList texts{widget<QLabel>("checkSummary")->text()};
    for (QListWidgetItem *item : widget<QListWidget>("checkFindings")->findItems("", Qt::MatchContains))
        texts << item->text();
    return texts << widget<QLabel>("checkDetails")->text();
}

void TestMainWindowNetwork::checkShowsEachFindingWithItsFix_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("shown");   // summary, findings, details
    QTest::newRow("problems")
        << QStringList{"sleep 300", json("start", ""), kChoice,
                       json("error", "\"text\":\"Error: Failed to bind UDP socket: Address already in use\""),
                       json("error", "\"text\":\"    Port 6454 is in use by console (pid 42).\""),
                       problem("port-taken", "127.0.0.1", "port 6454 cannot be had on 127.0.0.1"), kFixture, kFixture,
                       problem("address-conflict", "2.0.0.99", "2 devices answer at 2.0.0.99: 02:00:02:00:00:0a "
                                                               "02:00:02:00:00:0b; no upload may go there"),
                       problem("swapped-maker-code", "2.0.0.7", "2.0.0.7 reports estaMan=0x2a4d"),
                       problem("outside-network", "10.0.0.5", "10.0.0.5 (m) answers on eth0 from outside its network "
                                                              "2.0.0.0/8; a run drops its replies; it is in the network "
                                                              "of eth1 (10.0.0.1)"),
                       problem("new-kind", "", "something new"), json("check-end", "\"problems\":5"), "exit 1"}
        << QStringList{"5 problems stand in the way of an update:",
                       "Another program on this computer holds the Art-Net port (UDP 6454): console (pid 42), so no "
                       "update can run.\nFix: Close that program (a lighting console, a visualiser, another updater) "
                       "while you update, then check again.",
                       "Several devices answer at 2.0.0.99 (02:00:02:00:00:0a, 02:00:02:00:00:0b), so no update may "
                       "go there.\nFix: Give each device its own address (two fixtures left at the same factory "
                       "address, say).",
                       "Fixture 2.0.0.7 reports its maker code with the bytes swapped (a fault of its network "
                       "firmware), so no firmware file fits it.\nFix: Update it with the maker's own tool, or report "
                       "the fault to the maker.",
                       "Fixture 10.0.0.5 answers from outside this interface's network (2.0.0.0/8), so an update "
                       "cannot reach it.\nFix: Choose 10.0.0.1 in the interface list to update it, or give the "
                       "fixture an address in 2.0.0.0/8.",
                       "Something new.\nFix: Lumiload's fix.",
                       "Checked eth0 (127.0.0.1): 2 fixtures answered."};
    QTest::newRow("clean") << QStringList{kChoice, kFixture, json("check-end", "\"problems\":0")}
                           << QStringList{"Nothing stands in the way of an update.",
                                          "Checked eth0 (127.0.0.1): 1 fixture answered."};
    QTest::newRow("cut short") << QStringList{kChoice, "crash"}
                               << QStringList{"The network check could not be made: lumiload stopped unexpectedly "
                                              "(it crashed or was killed).", "Checked eth0 (127.0.0.1): 0 fixtures answered."};
}

// The interface chosen is the one checked; while the check holds port
// 6454 no discovery, update or second check can start.
void TestMainWindowNetwork::checkShowsEachFindingWithItsFix()
{
    QFETCH(QStringList, script);
    QFETCH(QStringList, shown);
    writeScript("check.txt", script);
    QTest::mouseClick(widget<QPushButton>("checkNetworkButton"), Qt::LeftButton);
    QVERIFY(widget<QDialog>("networkCheckDialog")->isVisible());
    if (script.first().startsWith("sleep")) {
        QVERIFY(!widget<QPushButton>("runButton")->isEnabled() && !widget<QPushButton>("checkNetworkButton")->isEnabled());
        QCOMPARE(widget<QLabel>("checkSummary")->text(), QString("Checking the network on 127.0.0.1..."));
    }
    QTRY_VERIFY_WITH_TIMEOUT(widget<QPushButton>("checkNetworkButton")->isEnabled(), 10000);
    QCOMPARE(calls(), QStringList{"[-N][-j][-s][127.0.0.1]"});
    QCOMPARE(findings(), shown);
    QVERIFY(widget<QLabel>("checkReason")->isHidden());
}

// Once per discovery that finds no fixture, in the dialog, which leaves the
// window usable; never after one that finds some.
void TestMainWindowNetwork::emptyDiscoveryChecksTheNetwork()
{
    writeScript("check.txt", {kChoice, problem("no-fixture", "127.0.0.1", "no fixture answers on eth0"),
                              json("check-end", "\"problems\":1")});
    discover("");
    QDialog *dialog = widget<QDialog>("networkCheckDialog");
    QVERIFY(dialog->isVisible() && !dialog->isModal());
    QCOMPARE(widget<QLabel>("checkReason")->text(),
             QString("No fixture answered on 127.0.0.1, so the window checked the network."));
    QCOMPARE(findings().mid(0, 2), QStringList({"1 problem stands in the way of an update:",
                                                "No fixture answers on this interface (127.0.0.1).\nFix: Check the "
                                                "cable and the switch, that the fixtures are switched on, and that "
                                                "the interface chosen is the one to their network."}));
    QCOMPARE(calls().size(), 2);
    dialog->hide();
    discover(fixtureBlock("2.0.0.5", "A"));
    QVERIFY(!dialog->isVisible());
    QCOMPARE(calls().size(), 3);
}

// A row's menu locates its fixture and ends the locate; the row shows it,
// a fixture that does not answer is said, and the selection stays.
void TestMainWindowNetwork::locateFromARowLeavesTheSelection()
{
    discover(fixtureBlock("2.0.0.5", "A") + fixtureBlock("2.0.0.6", "B"));
    table()->selectRow(1);
    writeScript("locate.txt", {"out # Locating\\n"});
    QCOMPARE(locate(0), QString("Locate 2.0.0.5"));
    QVERIFY(!table()->item(0, 0)->icon().isNull() && table()->item(1, 0)->icon().isNull());
    QCOMPARE(locate(0), QString("Stop Locating 2.0.0.5"));
    QVERIFY(table()->item(0, 0)->icon().isNull());
    writeScript("locate.txt", {"err Error: 2.0.0.6 did not answer the locate request (ArtAddress)\\n", "exit 1"});
    QCOMPARE(locate(1), QString("Locate 2.0.0.6"));
    QVERIFY(table()->item(1, 0)->icon().isNull());
    QCOMPARE(widget<QLabel>("statusLabel")->text(), QString("Locate of 2.0.0.6 failed: 2.0.0.6 did not answer: it "
                                                            "is switched off, disconnected or on another network."));
    QCOMPARE(calls().mid(1), QStringList({"[-s][127.0.0.1][-L][2.0.0.5]", "[-s][127.0.0.1][-L][2.0.0.5,off]",
                                          "[-s][127.0.0.1][-L][2.0.0.6]"}));
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(table()->selectionModel()->selectedRows().first().row(), 1);
}

// Both fixtures locate, one is updated: both end before its upload starts,
// which goes to the selected one only; one locating at the end is ended.
void TestMainWindowNetwork::locatesEndWhenARunStartsAndAtTheEnd()
{
    discover(fixtureBlock("2.0.0.5", "A") + fixtureBlock("2.0.0.6", "B"));
    writeScript("locate.txt", {"exit 0"});
    locate(0);
    locate(1);
    AlfImageSpec spec;
    spec.version_hi = 1;
    spec.version_lo = 20;
    spec.oem_slots = {0x0101};
    write_binary_file("fw.alf", make_alf_image(spec));
    widget<QLineEdit>("filePathEdit")->setText(QFileInfo("fw.alf").absoluteFilePath());
    table()->selectRow(1);
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    writeScript("upload.txt", {"exit 1"});
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    QVERIFY(table()->item(0, 0)->icon().isNull() && table()->item(1, 0)->icon().isNull());
    QCOMPARE(calls().mid(3, 2), QStringList({"[-s][127.0.0.1][-L][2.0.0.5,off]", "[-s][127.0.0.1][-L][2.0.0.6,off]"}));
    QCOMPARE(calls().size(), 6);
    QVERIFY(calls()[5].endsWith("[-d][2.0.0.6]"));
    locate(0);
    QVERIFY(m_window->close());
    QCOMPARE(calls().mid(6), QStringList({"[-s][127.0.0.1][-L][2.0.0.5]", "[-s][127.0.0.1][-L][2.0.0.5,off]"}));
}

int main(int argc, char **argv)
{
    // Settings of this run stay in a scratch directory.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestMainWindowNetwork test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_MainWindowNetwork.moc"
