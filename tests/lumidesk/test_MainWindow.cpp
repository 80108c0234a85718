// MainWindow driven through its widgets, with the stand-in ./lumiload in a
// scratch working directory playing scripted output.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QProcess>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include "MainWindow.h"
#include "desk_test_support.h"

namespace {

QString escaped(const QString &text)
{
    QString out = text;
    out.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r");
    return out;
}

// One fixture block of a discovery report, lines ended by "\r\n" as the
// Windows build delivers them (the parser must cope with both).
QString fixtureBlock(const QString &ip, const QString &name, const QString &version,
                     const QString &portName = "Spot", const QString &eol = "\r\n")
{
    return "Fixture detected:" + eol + "    ip=" + ip + eol + "    mac=00:11:22:33:44:55" + eol +
           "    estaMan=0x4d2a" + eol + "    oemCode=0x0101" + eol + "    version=" + version +
           eol + "    portName=" + portName + eol + "    longName=" + name + eol;
}

const QString kBanner = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\n";

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsInDiscoveryMode();
    void listsTheUpIPv4Addresses();
    void discoveryPassesSourceAddress();
    void discoveryAddsRowsFromReport();
    void discoveryKeepsBlocksSplitAcrossReads();
    void discoveryTakesKeyFromLineStart();
    void discoveryUpdatesVersionOfKnownFixture();
    void discoveryIgnoresIncompleteBlocks();
    void discoveryStartFailureBoxIsAnswerable();
    void interfaceFilterShowsMatchingFirstNumber();
    void selectAllToggles();
    void cellsAreReadOnly();
    void uploadWithoutFileRunsDiscovery();
    void uploadWithNoSelectionStartsNothing();
    void uploadArgumentsInTableOrder();
    void equalVersionIsSkippedUnlessForced();
    void progressFollowsOutputInAnyChunks();
    void failedUploadsAreMarkedAndSummarised();
    void stuckUploadThatSucceedsIsNotAFailure();
    void uploadStartFailureBoxIsAnswerable();
    void newRunResetsBars();
    void browseRemembersDirectory();
    void targetVersionDecoding_data();
    void targetVersionDecoding();
    void closeIsRefusedDuringUpload();
    void closeStopsRunningDiscovery();

private:
    template <typename T> T *widget(const char *name)
    {
        T *w = m_window->findChild<T *>(name);
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    QTableWidget *table() { return widget<QTableWidget>("deviceTable"); }
    QProgressBar *bar(int row) { return qobject_cast<QProgressBar *>(table()->cellWidget(row, 3)); }

    void writeScript(const QString &name, const QStringList &commands);
    QStringList calls() const;
    QStringList startedArguments() const;
    bool discover(const QString &report, int expectedRows);
    void waitDiscoveryEnd();
    void clickRow(int row);
    void chooseFile(const QString &path);
    QString makeAlf(const QString &name, quint8 hi, quint8 lo);
    void selectLoopback();

    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindow *m_window = nullptr;
};

void TestMainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(QFile::copy(LUMILOAD_STANDIN, "lumiload"));
    QFile::setPermissions("lumiload", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings("YourCompanyName", "YourAppName").clear();

    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    selectLoopback();
}

void TestMainWindow::cleanup()
{
    delete m_window;
    m_window = nullptr;
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TestMainWindow::selectLoopback()
{
    QComboBox *nic = widget<QComboBox>("nicComboBox");
    const int index = nic->findText("127.0.0.1");
    if (index >= 0)
        nic->setCurrentIndex(index);
}

void TestMainWindow::writeScript(const QString &name, const QStringList &commands)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(commands.join('\n').toUtf8() + "\n");
}

QStringList TestMainWindow::calls() const
{
    QFile file("calls.log");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// The argument part of every "start" line, in order.
QStringList TestMainWindow::startedArguments() const
{
    QStringList result;
    for (const QString &line : calls())
        if (line.startsWith("start "))
            result << line.section(' ', 2);
    return result;
}

bool TestMainWindow::discover(const QString &report, int expectedRows)
{
    writeScript("discover.txt", {"out " + escaped(report)});
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return table()->rowCount() == expectedRows; }, 5000))
        return false;
    waitDiscoveryEnd();
    return table()->rowCount() == expectedRows;
}

void TestMainWindow::waitDiscoveryEnd()
{
    QProcess *process = m_window->findChild<QProcess *>("process");
    QTRY_COMPARE_WITH_TIMEOUT(process->state(), QProcess::NotRunning, 10000);
    QTest::qWait(20);
}

void TestMainWindow::clickRow(int row)
{
    QTableWidget *t = table();
    const QRect rect = t->visualItemRect(t->item(row, 1));
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, rect.center());
}

void TestMainWindow::chooseFile(const QString &path)
{
    ModalCatcher catcher(m_window);
    catcher.fileDialog = [path](QFileDialog *dialog) {
        pickFile(dialog, path);
    };
    QTest::mouseClick(widget<QPushButton>("browseButton"), Qt::LeftButton);
    QCOMPARE(widget<QLineEdit>("filePathEdit")->text(), path);
}

QString TestMainWindow::makeAlf(const QString &name, quint8 hi, quint8 lo)
{
    QByteArray bytes(1060, '\0');
    bytes[2] = char(hi);
    bytes[3] = char(lo);
    const QString path = QDir::current().absoluteFilePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

// ---- construction -----------------------------------------------------------

void TestMainWindow::startsInDiscoveryMode()
{
    QCOMPARE(m_window->windowTitle(), QString("Orvane Ethernet Updater 1.1"));
    QCOMPARE(m_window->minimumSize(), QSize(700, 300));
    QCOMPARE(widget<QPushButton>("runButton")->text(), QString("Discover Fixtures"));
    QCOMPARE(widget<QLabel>("versionLabel")->text(), QString("Target Version: (none)"));
    QCOMPARE(widget<QLabel>("textLabel")->text(), QString(" Orvane Ethernet Updater"));
    QCOMPARE(widget<QLabel>("textLabel")->font().pointSize(), 20);
    QVERIFY(widget<QLabel>("textLabel")->font().bold());
    QCOMPARE(widget<QLabel>("forceUpdateLabel")->text(),
             QString::fromUtf8(" Skip Version Check\xEF\xBC\x9A "));
    QCOMPARE(widget<QLabel>("fileUpdateLabel")->text(),
             QString::fromUtf8(" Apply Update to selected Fixtures\xEF\xBC\x9A "));
    QLineEdit *path = widget<QLineEdit>("filePathEdit");
    QVERIFY(path->isReadOnly());
    QCOMPARE(path->placeholderText(), QString("Select a firmware file..."));
    QVERIFY(!widget<QCheckBox>("fileUpdateCheckBox")->isChecked());
    QVERIFY(!widget<QCheckBox>("forceUpdateCheckBox")->isChecked());
    QVERIFY(widget<QPushButton>("selectAllButton")->isHidden());

    QTableWidget *t = table();
    QCOMPARE(t->rowCount(), 0);
    QCOMPARE(t->columnCount(), 4);
    QStringList headers;
    for (int c = 0; c < 4; ++c)
        headers << t->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, QStringList({"Name", "IP", "Version", "Progress"}));
    QCOMPARE(t->selectionMode(), QAbstractItemView::MultiSelection);
    QCOMPARE(t->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(qobject_cast<CustomHeaderView *>(t->horizontalHeader()));
    QVERIFY(t->horizontalHeader()->stretchLastSection());

    m_window->resize(100, 100);
    QVERIFY(m_window->width() >= 700 && m_window->height() >= 300);
}

void TestMainWindow::listsTheUpIPv4Addresses()
{
    QStringList expected;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        if (!(iface.flags() & QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry &entry : iface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                expected << entry.ip().toString();
    }
    QComboBox *nic = widget<QComboBox>("nicComboBox");
    QStringList listed;
    for (int i = 0; i < nic->count(); ++i)
        listed << nic->itemText(i);
    QCOMPARE(listed, expected);
    QVERIFY(listed.contains("127.0.0.1"));

    QTest::mouseClick(widget<QPushButton>("refreshButton"), Qt::LeftButton);
    QCOMPARE(nic->count(), expected.size());
    QCOMPARE(nic->currentIndex(), 0);
}

// ---- discovery ----------------------------------------------------------------

void TestMainWindow::discoveryPassesSourceAddress()
{
    QVERIFY(discover(kBanner + fixtureBlock("10.0.0.5", "Spot 1", "1.2.3"), 1));
    QCOMPARE(startedArguments(), QStringList({"[-s ][127.0.0.1]"}));
    QVERIFY(m_window->isEnabled());
}

void TestMainWindow::discoveryAddsRowsFromReport()
{
    const QString report = kBanner +
                           "# No ALF file supplied with -f, performing fixture poll without update.\r\n" +
                           fixtureBlock("2.0.0.5", "Spot 1", "1.2.3") +
                           fixtureBlock("2.0.0.6", "Wash 2", "0.9.1", "Wash", "\n") + "\r\n";
    QVERIFY(discover(report, 2));
    QTableWidget *t = table();
    QCOMPARE(t->item(0, 0)->text(), QString("Spot 1"));
    QCOMPARE(t->item(0, 1)->text(), QString("2.0.0.5"));
    QCOMPARE(t->item(0, 2)->text(), QString("1.2.3"));
    QCOMPARE(t->item(1, 0)->text(), QString("Wash 2"));
    QCOMPARE(t->item(1, 1)->text(), QString("2.0.0.6"));
    QCOMPARE(t->item(1, 2)->text(), QString("0.9.1"));
    QVERIFY(bar(0) && bar(1));
    QCOMPARE(bar(0)->value(), 0);
    QCOMPARE(bar(0)->maximum(), 100);
    QVERIFY(!widget<QPushButton>("selectAllButton")->isHidden());
}

void TestMainWindow::discoveryKeepsBlocksSplitAcrossReads()
{
    // Cut inside the ip line, between version and longName, and inside the
    // longName line, with pauses so that each piece is a read of its own.
    const QString block = fixtureBlock("2.0.0.7", "Beam 7", "2.1.0");
    const int cutIp = block.indexOf("ip=2.0") + 5;
    const int cutName = block.indexOf("    longName=");
    const int cutInName = block.indexOf("Beam") + 2;
    writeScript("discover.txt",
                {"out " + escaped(kBanner + block.left(cutIp)), "sleep 150",
                 "out " + escaped(block.mid(cutIp, cutName - cutIp)), "sleep 150",
                 "out " + escaped(block.mid(cutName, cutInName - cutName)), "sleep 150",
                 "out " + escaped(block.mid(cutInName)), "sleep 150",
                 // the last line of the run lacks its line feed
                 "out " + escaped(fixtureBlock("2.0.0.8", "Beam 8", "2.1.1").chopped(2))});
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    waitDiscoveryEnd();
    QTableWidget *t = table();
    QCOMPARE(t->rowCount(), 2);
    QCOMPARE(t->item(0, 0)->text(), QString("Beam 7"));
    QCOMPARE(t->item(0, 1)->text(), QString("2.0.0.7"));
    QCOMPARE(t->item(0, 2)->text(), QString("2.1.0"));
    QCOMPARE(t->item(1, 0)->text(), QString("Beam 8"));
}

void TestMainWindow::discoveryTakesKeyFromLineStart()
{
    const QString report = fixtureBlock("2.0.0.9", "Key=Value ip=1.1.1.1", "1.0.0", "ip=9.9.9.9") +
                           fixtureBlock("2.0.0.10", "version=9 fixture", "1.0.1", "x=y");
    QVERIFY(discover(report, 2));
    QTableWidget *t = table();
    QCOMPARE(t->item(0, 0)->text(), QString("Key=Value ip=1.1.1.1"));
    QCOMPARE(t->item(0, 1)->text(), QString("2.0.0.9"));
    QCOMPARE(t->item(0, 2)->text(), QString("1.0.0"));
    QCOMPARE(t->item(1, 0)->text(), QString("version=9 fixture"));
    QCOMPARE(t->item(1, 1)->text(), QString("2.0.0.10"));
    QCOMPARE(t->item(1, 2)->text(), QString("1.0.1"));
}

void TestMainWindow::discoveryUpdatesVersionOfKnownFixture()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "First", "1.0.0") +
                         fixtureBlock("2.0.0.6", "Other", "1.0.0") +
                         fixtureBlock("2.0.0.5", "Second", "1.0.5"),
                     2));
    QCOMPARE(table()->item(0, 0)->text(), QString("First"));
    QCOMPARE(table()->item(0, 2)->text(), QString("1.0.5"));

    QVERIFY(discover(fixtureBlock("2.0.0.6", "Renamed", "3.0.0"), 2));
    QTRY_COMPARE(table()->item(1, 2)->text(), QString("3.0.0"));
    QCOMPARE(table()->item(1, 0)->text(), QString("Other"));
    QCOMPARE(table()->item(1, 1)->text(), QString("2.0.0.6"));
}

void TestMainWindow::discoveryIgnoresIncompleteBlocks()
{
    const QString noVersion = "Fixture detected:\n    ip=2.0.0.20\n    portName=a\n    longName=NoVersion\n";
    const QString emptyName = "Fixture detected:\n    ip=2.0.0.21\n    version=1.0.0\n    longName=\n";
    QVERIFY(discover(noVersion + emptyName + fixtureBlock("2.0.0.22", "Good", "1.0.0"), 1));
    QCOMPARE(table()->item(0, 1)->text(), QString("2.0.0.22"));
    QCOMPARE(table()->item(0, 0)->text(), QString("Good"));
}

void TestMainWindow::discoveryStartFailureBoxIsAnswerable()
{
    QVERIFY(QFile::remove("lumiload"));
    ModalCatcher catcher(m_window);
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    QCOMPARE(catcher.boxes.size(), 1);
    QCOMPARE(catcher.boxes[0].title, QString("Error"));
    QCOMPARE(catcher.boxes[0].text, QString("Failed to start the command."));
    QVERIFY(!catcher.boxes[0].windowEnabled);
    QVERIFY(catcher.boxes[0].boxEnabled);
    QVERIFY(catcher.boxes[0].answered);
    QVERIFY(m_window->isEnabled());
}

// ---- table ------------------------------------------------------------------------

void TestMainWindow::interfaceFilterShowsMatchingFirstNumber()
{
    QVERIFY(discover(fixtureBlock("127.0.0.5", "Local", "1.0.0") +
                         fixtureBlock("10.1.2.3", "Ten", "1.0.0") +
                         fixtureBlock("127.9.9.9", "Local 2", "1.0.0"),
                     3));
    QTableWidget *t = table();
    clickRow(1);
    QCOMPARE(t->selectedRanges().size(), 1);

    // Refreshing empties the selector (every row hidden), then makes the
    // first entry current and filters by it.
    QComboBox *nic = widget<QComboBox>("nicComboBox");
    QTest::mouseClick(widget<QPushButton>("refreshButton"), Qt::LeftButton);
    const QString first = nic->currentText().section('.', 0, 0);
    QVERIFY(t->selectedRanges().isEmpty());
    QCOMPARE(t->isRowHidden(0), first != "127");
    QCOMPARE(t->isRowHidden(1), first != "10");

    // Choosing the loopback address shows the 127.x fixtures only.
    const int loopback = nic->findText("127.0.0.1");
    QVERIFY(loopback >= 0);
    if (nic->currentIndex() == loopback)
        nic->setCurrentIndex(nic->count() > 1 ? (loopback + 1) % nic->count() : -1);
    nic->setCurrentIndex(loopback);
    QVERIFY(!t->isRowHidden(0));
    QVERIFY(t->isRowHidden(1));
    QVERIFY(!t->isRowHidden(2));
    QVERIFY(!widget<QPushButton>("selectAllButton")->isHidden());

    // A fixture found after the filter ran is shown whatever its address.
    QVERIFY(discover(fixtureBlock("192.168.7.7", "Late", "1.0.0"), 4));
    QVERIFY(!t->isRowHidden(3));
}

void TestMainWindow::selectAllToggles()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0") +
                         fixtureBlock("2.0.0.7", "C", "1.0.0"),
                     3));
    QTableWidget *t = table();
    QPushButton *selectAll = widget<QPushButton>("selectAllButton");
    QVERIFY(t->selectionModel()->selectedRows().isEmpty());

    QTest::mouseClick(selectAll, Qt::LeftButton);
    QCOMPARE(t->selectionModel()->selectedRows().size(), 3);
    QTest::mouseClick(selectAll, Qt::LeftButton);
    QCOMPARE(t->selectionModel()->selectedRows().size(), 0);

    clickRow(1);
    QCOMPARE(t->selectionModel()->selectedRows().size(), 1);
    QTest::mouseClick(selectAll, Qt::LeftButton);
    QCOMPARE(t->selectionModel()->selectedRows().size(), 0);

    // A press on any header section, with any button, toggles as well.
    QHeaderView *header = t->horizontalHeader();
    const QPoint onIp(header->sectionViewportPosition(1) + 5, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, onIp);
    QCOMPARE(t->selectionModel()->selectedRows().size(), 3);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, onIp);
    QCOMPARE(t->selectionModel()->selectedRows().size(), 3);
    const QPoint onVersion(header->sectionViewportPosition(2) + 5, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::RightButton, {}, onVersion);
    QTest::mouseRelease(header->viewport(), Qt::RightButton, {}, onVersion);
    QCOMPARE(t->selectionModel()->selectedRows().size(), 0);
}

void TestMainWindow::cellsAreReadOnly()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    QTableWidget *t = table();
    for (int c = 0; c < 3; ++c)
        QVERIFY(!(t->item(0, c)->flags() & Qt::ItemIsEditable));
    const QPoint p = t->visualItemRect(t->item(0, 0)).center();
    QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, p);
    QTest::keyClicks(t, "changed");
    QCOMPARE(t->item(0, 0)->text(), QString("A"));
}

// ---- upload runs --------------------------------------------------------------------

void TestMainWindow::uploadWithoutFileRunsDiscovery()
{
    QCheckBox *upload = widget<QCheckBox>("fileUpdateCheckBox");
    QPushButton *run = widget<QPushButton>("runButton");
    upload->click();
    QCOMPARE(run->text(), QString("Upload to Fixtures"));
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    QCOMPARE(startedArguments(), QStringList({"[-s ][127.0.0.1]"}));
    QVERIFY(!upload->isChecked());
    QCOMPARE(run->text(), QString("Discover Fixtures"));
}

void TestMainWindow::uploadWithNoSelectionStartsNothing()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    chooseFile(makeAlf("fw.alf", 1, 20));
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    ModalCatcher catcher(m_window);
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    QCOMPARE(startedArguments().size(), 1); // the discovery only
    QVERIFY(catcher.boxes.isEmpty());
    QVERIFY(m_window->isEnabled());
    QVERIFY(!widget<QCheckBox>("fileUpdateCheckBox")->isChecked());
    QCOMPARE(widget<QPushButton>("runButton")->text(), QString("Discover Fixtures"));
}

void TestMainWindow::uploadArgumentsInTableOrder()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0") +
                         fixtureBlock("2.0.0.7", "C", "1.0.0"),
                     3));
    const QString path = makeAlf("fw.alf", 1, 20);
    chooseFile(path);
    writeScript("upload.txt", {"out    blockCount=4\\n    progress=F - - LG\\n", "sleep 50",
                               "out # Firmware uploaded successfully\\n"});
    // Selected bottom row first; updated top to bottom all the same.
    clickRow(2);
    clickRow(0);
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    QCOMPARE(widget<QPushButton>("runButton")->text(), QString("Upload to Fixtures"));
    ModalCatcher catcher(m_window);
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);

    const QString common = "[-i][-f][" + path + "][-m][-s ][127.0.0.1]";
    QCOMPARE(startedArguments(),
             QStringList({"[-s ][127.0.0.1]", common + "[-d][2.0.0.5]", common + "[-d][2.0.0.7]"}));
    // One at a time: every upload ended before the next started.
    QStringList kinds;
    for (const QString &line : calls())
        kinds << line.section(' ', 0, 0);
    QCOMPARE(kinds, QStringList({"start", "end", "start", "end", "start", "end"}));
    QVERIFY(catcher.boxes.isEmpty());
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    QCOMPARE(bar(1)->format(), QString("%p%"));
    QCOMPARE(bar(2)->format(), QString("Upload Successful"));
    QVERIFY(!widget<QCheckBox>("fileUpdateCheckBox")->isChecked());
}

void TestMainWindow::equalVersionIsSkippedUnlessForced()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "Same", "1.2.0") + fixtureBlock("2.0.0.6", "Older", "1.1.0"),
                     2));
    chooseFile(makeAlf("fw.alf", 1, 20));
    QCOMPARE(widget<QLabel>("versionLabel")->text(), QString("Target Version: v1.2.0"));
    writeScript("upload.txt", {"out    blockCount=3\\n    progress=F - LG\\n# Firmware uploaded successfully\\n"});

    QTest::mouseClick(widget<QPushButton>("selectAllButton"), Qt::LeftButton);
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    QStringList started = startedArguments();
    QCOMPARE(started.size(), 2);
    QVERIFY(started[1].endsWith("[-d][2.0.0.6]"));
    QCOMPARE(bar(0)->format(), QString("Version Skipped"));
    QCOMPARE(highlightOf(bar(0)), QColor(Qt::green));
    QCOMPARE(bar(1)->format(), QString("Upload Successful"));
    QCOMPARE(table()->item(1, 2)->text(), QString("1.2.0"));

    // Forced: both rows are updated.
    table()->clearSelection();
    QTest::mouseClick(widget<QPushButton>("selectAllButton"), Qt::LeftButton);
    widget<QCheckBox>("forceUpdateCheckBox")->click();
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    started = startedArguments();
    QCOMPARE(started.size(), 4);
    QVERIFY(started[2].endsWith("[-d][2.0.0.5]"));
    QVERIFY(started[3].endsWith("[-d][2.0.0.6]"));
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
}

void TestMainWindow::progressFollowsOutputInAnyChunks()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0"), 2));
    chooseFile(makeAlf("fw.alf", 0x12, 3));
    QCOMPARE(widget<QLabel>("versionLabel")->text(), QString("Target Version: v1.2.3"));
    // A: one "-" from the banner, range from the first blockCount, a later
    // blockCount ignored, success line cut in two.
    writeScript("script-2.0.0.5.txt",
                {"out " + escaped(kBanner) + "    blockCount=10\\n", "sleep 150",
                 "out ########################################\\nUploading to fixture at 2.0.0.5:\\n"
                 "    progress=F - - ",
                 "sleep 150", "out - \\n    blockCount=99\\n", "sleep 150",
                 "out LG\\n# Firmware up", "sleep 150", "out loaded successfully\\n"});
    // B: the blockCount line itself cut in the middle of its number.
    writeScript("script-2.0.0.6.txt",
                {"out     blockCo", "sleep 150", "out unt=1", "sleep 150", "out 2\\n    progress=F ",
                 "sleep 150", "out LG\\n# Firmware uploaded successfully\\n"});
    QTest::mouseClick(widget<QPushButton>("selectAllButton"), Qt::LeftButton);
    widget<QCheckBox>("fileUpdateCheckBox")->click();

    BarWatcher watchA(bar(0));
    BarWatcher watchB(bar(1));
    ModalCatcher catcher(m_window);
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    watchA.sample();
    watchB.sample();

    auto has = [](const BarWatcher &w, int value, int maximum, const QString &format) {
        for (const BarSample &s : w.samples)
            if (s.value == value && s.maximum == maximum && s.format == format)
                return true;
        return false;
    };
    QVERIFY2(has(watchA, 1, 10, "%p%"), "banner dash with range 0..10");
    QVERIFY(has(watchA, 3, 10, "%p%"));
    QVERIFY(has(watchA, 4, 10, "%p%"));
    QCOMPARE(bar(0)->maximum(), 10);
    QCOMPARE(bar(0)->value(), 10);
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    QCOMPARE(highlightOf(bar(0)), QColor(Qt::green));
    QCOMPARE(table()->item(0, 2)->text(), QString("1.2.3"));

    QCOMPARE(bar(1)->maximum(), 12);
    QCOMPARE(bar(1)->value(), 12);
    QCOMPARE(bar(1)->format(), QString("Upload Successful"));
    QVERIFY(catcher.boxes.isEmpty());
}

void TestMainWindow::failedUploadsAreMarkedAndSummarised()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "Errors", "1.0.0") + fixtureBlock("2.0.0.6", "Good", "1.0.0") +
                         fixtureBlock("2.0.0.7", "Silent", "1.0.0") +
                         fixtureBlock("2.0.0.8", "Crashes", "1.0.0"),
                     4));
    chooseFile(makeAlf("fw.alf", 1, 20));
    // An error part way, exit status 1, no success line.
    writeScript("script-2.0.0.5.txt", {"out    blockCount=10\\n    progress=F - -T", "sleep 100", "exit 1"});
    writeScript("script-2.0.0.6.txt", {"out    blockCount=3\\n    progress=F - LG\\n# Firmware uploaded successfully\\n"});
    writeScript("script-2.0.0.7.txt", {"exit 1"});
    // The last fixture of the run dies mid-upload.
    writeScript("script-2.0.0.8.txt", {"out    blockCount=10\\n    progress=F - ", "sleep 100", "crash"});
    QTest::mouseClick(widget<QPushButton>("selectAllButton"), Qt::LeftButton);
    widget<QCheckBox>("fileUpdateCheckBox")->click();

    ModalCatcher catcher(m_window);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    QVERIFY2(clock.elapsed() < 4000, "failures are decided when the process ends, not by the timer");

    for (int row : {0, 2, 3}) {
        QCOMPARE(bar(row)->format(), QString("Upload Failed"));
        QCOMPARE(highlightOf(bar(row)), QColor(Qt::red));
    }
    QCOMPARE(bar(1)->format(), QString("Upload Successful"));
    QCOMPARE(catcher.boxes.size(), 1);
    QCOMPARE(catcher.boxes[0].title, QString("Warning"));
    QCOMPARE(catcher.boxes[0].text,
             QString("Some devices failed to update. Please check the chart for details."));
    QVERIFY(catcher.boxes[0].answered);
    QList<int> selected;
    for (const QModelIndex &index : table()->selectionModel()->selectedRows())
        selected << index.row();
    std::sort(selected.begin(), selected.end());
    QCOMPARE(selected, QList<int>({0, 2, 3}));

    // No late mark after the run: the failed rows' timers are gone.
    QTest::qWait(5500);
    QCOMPARE(catcher.boxes.size(), 1);
    QCOMPARE(bar(1)->format(), QString("Upload Successful"));
}

void TestMainWindow::stuckUploadThatSucceedsIsNotAFailure()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "Slow", "1.0.0"), 1));
    chooseFile(makeAlf("fw.alf", 1, 20));
    // The last block takes longer than the stuck timer while the fixture
    // writes its flash.
    writeScript("upload.txt", {"out    blockCount=10\\n    progress=F - - - ", "sleep 5700",
                               "out LG\\n# Firmware uploaded successfully\\n"});
    QTest::mouseClick(widget<QPushButton>("selectAllButton"), Qt::LeftButton);
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    BarWatcher watch(bar(0));
    ModalCatcher catcher(m_window);
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);

    bool sawRed = false;
    for (const BarSample &s : watch.samples)
        sawRed = sawRed || (s.format == "Upload Failed" && s.colour == QColor(Qt::red) && s.value == 3);
    QVERIFY2(sawRed, "stalled upload marked while its process ran");
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    QCOMPARE(highlightOf(bar(0)), QColor(Qt::green));
    QVERIFY(catcher.boxes.isEmpty());
}

void TestMainWindow::uploadStartFailureBoxIsAnswerable()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    chooseFile(makeAlf("fw.alf", 1, 20));
    QVERIFY(QFile::remove("lumiload"));
    QTest::mouseClick(widget<QPushButton>("selectAllButton"), Qt::LeftButton);
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    ModalCatcher catcher(m_window);
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);

    QCOMPARE(catcher.boxes.size(), 2);
    QCOMPARE(catcher.boxes[0].title, QString("Error"));
    QCOMPARE(catcher.boxes[0].text, QString("Failed to start the command for IP: 2.0.0.5"));
    QVERIFY(!catcher.boxes[0].windowEnabled);
    QVERIFY(catcher.boxes[0].boxEnabled);
    QVERIFY(catcher.boxes[0].answered);
    QCOMPARE(catcher.boxes[1].text,
             QString("Some devices failed to update. Please check the chart for details."));
    QVERIFY(m_window->isEnabled());
}

void TestMainWindow::newRunResetsBars()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    chooseFile(makeAlf("fw.alf", 1, 20));
    writeScript("upload.txt", {"out    blockCount=7\\n    progress=F - - - - - LG\\n# Firmware uploaded successfully\\n"});
    QTest::mouseClick(widget<QPushButton>("selectAllButton"), Qt::LeftButton);
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    QCOMPARE(bar(0)->maximum(), 7);

    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.2.0"), 1));
    QCOMPARE(bar(0)->format(), QString("%p%"));
    QCOMPARE(highlightOf(bar(0)), QColor(Qt::blue));
    QCOMPARE(bar(0)->value(), 0);
    QCOMPARE(bar(0)->maximum(), 7); // the range stays until a new total arrives
}

// ---- file and target version -------------------------------------------------------

void TestMainWindow::browseRemembersDirectory()
{
    QVERIFY(QDir().mkpath("images"));
    const QString path = makeAlf("images/fw.alf", 1, 20);
    QString startDirectory = "unset";
    QVERIFY(!QSettings("YourCompanyName", "YourAppName").contains("lastDirectory"));
    {
        ModalCatcher catcher(m_window);
        catcher.fileDialog = [&](QFileDialog *dialog) {
            startDirectory = dialog->directory().absolutePath();
            pickFile(dialog, path);
        };
        QTest::mouseClick(widget<QPushButton>("browseButton"), Qt::LeftButton);
    }
    QCOMPARE(widget<QLineEdit>("filePathEdit")->text(), path);
    QCOMPARE(widget<QLabel>("versionLabel")->text(), QString("Target Version: v1.2.0"));
    const QString images = QDir::current().absoluteFilePath("images");
    QCOMPARE(QSettings("YourCompanyName", "YourAppName").value("lastDirectory").toString(), images);

    // A new window starts the dialog in the remembered directory; a cancel
    // changes nothing.
    delete m_window;
    m_window = new MainWindow;
    m_window->show();
    {
        ModalCatcher catcher(m_window);
        catcher.fileDialog = [&](QFileDialog *dialog) {
            startDirectory = dialog->directory().absolutePath();
            dialog->reject();
        };
        QTest::mouseClick(widget<QPushButton>("browseButton"), Qt::LeftButton);
    }
    QCOMPARE(startDirectory, images);
    QVERIFY(widget<QLineEdit>("filePathEdit")->text().isEmpty());
}

void TestMainWindow::targetVersionDecoding_data()
{
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("lo");
    QTest::addColumn<QString>("shown");
    QTest::newRow("1,20") << 1 << 20 << "Target Version: v1.2.0";
    QTest::newRow("1,0") << 1 << 0 << "Target Version: v1.0.0";
    QTest::newRow("1,23") << 1 << 23 << "Target Version: v1.23.0";
    QTest::newRow("1,5") << 1 << 5 << "Target Version: v1.5.0";
    QTest::newRow("1,100") << 1 << 100 << "Target Version: v1.1.0";
    QTest::newRow("0x12,3") << 0x12 << 3 << "Target Version: v1.2.3";
    QTest::newRow("0x1A,4") << 0x1A << 4 << "Target Version: v1.1.4";
}

void TestMainWindow::targetVersionDecoding()
{
    QFETCH(int, hi);
    QFETCH(int, lo);
    QFETCH(QString, shown);
    QLineEdit *path = widget<QLineEdit>("filePathEdit");
    QLabel *label = widget<QLabel>("versionLabel");
    path->setText(makeAlf("fw.alf", quint8(hi), quint8(lo)));
    QCOMPARE(label->text(), shown);

    // A file too short to hold the version leaves the label as it was;
    // "Discover Fixtures" re-reads the file at the shown path.
    QFile shortFile("short.alf");
    QVERIFY(shortFile.open(QIODevice::WriteOnly));
    shortFile.write("AB\x01", 3);
    shortFile.close();
    path->setText(QDir::current().absoluteFilePath("short.alf"));
    QCOMPARE(label->text(), shown);
    path->setText(makeAlf("fw.alf", 2, 0));
    QCOMPARE(label->text(), QString("Target Version: v2.0.0"));
    makeAlf("fw.alf", quint8(hi), quint8(lo));
    writeScript("discover.txt", {"exit 1"});
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    QCOMPARE(label->text(), shown);
    waitDiscoveryEnd();
}

// ---- closing ------------------------------------------------------------------------

void TestMainWindow::closeIsRefusedDuringUpload()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    chooseFile(makeAlf("fw.alf", 1, 20));
    writeScript("upload.txt", {"out    blockCount=10\\n    progress=F - ", "sleep 1000",
                               "out - - - - - - - LG\\n# Firmware uploaded successfully\\n"});
    QTest::mouseClick(widget<QPushButton>("selectAllButton"), Qt::LeftButton);
    widget<QCheckBox>("fileUpdateCheckBox")->click();

    bool closedDuringRun = true;
    QTimer::singleShot(400, m_window, [&] { closedDuringRun = m_window->close(); });
    ModalCatcher catcher(m_window);
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);

    QVERIFY(!closedDuringRun);
    QCOMPARE(catcher.boxes.size(), 1);
    QCOMPARE(catcher.boxes[0].title, QString("Warning"));
    QVERIFY(catcher.boxes[0].text.contains("upload is in progress"));
    QVERIFY(catcher.boxes[0].answered);
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->close());
}

void TestMainWindow::closeStopsRunningDiscovery()
{
    writeScript("discover.txt", {"out " + escaped(fixtureBlock("2.0.0.5", "A", "1.0.0")), "sleep 20000"});
    QTest::mouseClick(widget<QPushButton>("runButton"), Qt::LeftButton);
    QTRY_COMPARE(table()->rowCount(), 1);
    const QString start = calls().value(0);
    const qint64 pid = start.section(' ', 1, 1).toLongLong();
    QVERIFY(pid > 0);
    QVERIFY(::kill(pid_t(pid), 0) == 0);
    QVERIFY(m_window->close());
    QVERIFY(::kill(pid_t(pid), 0) != 0);
}

int main(int argc, char **argv)
{
    // Settings of this run stay in a scratch directory.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Closing a test's window must not end the application's event loops.
    QApplication::setQuitOnLastWindowClosed(false);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_MainWindow.moc"
