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
#include "UploadJob.h"
#include "desk_test_support.h"

namespace {

QString escaped(QString text)
{
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r");
}

// A discovery report's fixture block, lines ended as the Windows build ends
// them.
QString fixtureBlock(const QString &ip, const QString &name, const QString &version)
{
    return "Fixture detected:\r\n    ip=" + ip + "\r\n    mac=00:11:22:33:44:55\r\n" +
           "    version=" + version + "\r\n    portName=Spot\r\n    longName=" + name + "\r\n";
}

const QString kSuccess = "out    blockCount=3\\n    progress=F - LG\\n# Firmware uploaded successfully\\n";
const QString kSummary = "Some devices failed to update. Please check the chart for details.";

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsInDiscoveryMode();
    void listsTheUpIPv4Addresses();
    void discoveryFillsTheTable();
    void startFailureBoxesAreAnswerable_data();
    void startFailureBoxesAreAnswerable();
    void interfaceFilter();
    void selectionAndReadOnlyCells();
    void uploadBoxWithoutFileOrSelection();
    void uploadsRunOneByOneInTableOrder();
    void equalVersionIsSkippedUnlessForced();
    void progressVerdictsAndSummary();
    void newRunResetsBars();
    void browseRemembersDirectoryAndReadsVersion();
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
    void click(const char *button) { QTest::mouseClick(widget<QPushButton>(button), Qt::LeftButton); }

    void writeScript(const QString &name, const QStringList &commands);
    QStringList startedArguments() const;
    bool discover(const QString &report, int expectedRows);
    void waitDiscoveryEnd();
    void clickRow(int row);
    QString makeAlf(const QString &name, quint8 hi, quint8 lo);
    // Chooses a 1.2.0 image, selects every row and ticks the upload box.
    void prepareUpload();

    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindow *m_window = nullptr;
};

void TestMainWindow::initTestCase()
{
    // The stuck time-out is the window's rule, not a wait worth spending.
    UploadJob::setTimeouts(30000, 300);
}

void TestMainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(QFile::copy(LUMILOAD_STANDIN, "lumiload"));
    QFile::setPermissions("lumiload", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings("YourCompanyName", "YourAppName").clear();

    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QComboBox *nic = widget<QComboBox>("nicComboBox");
    nic->setCurrentIndex(nic->findText("127.0.0.1"));
}

void TestMainWindow::cleanup()
{
    delete m_window;
    m_window = nullptr;
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TestMainWindow::writeScript(const QString &name, const QStringList &commands)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(commands.join('\n').toUtf8() + "\n");
}

// The arguments of every start of the stand-in, in order, each in brackets.
QStringList TestMainWindow::startedArguments() const
{
    QFile file("calls.log");
    QStringList result;
    if (file.open(QIODevice::ReadOnly))
        for (const QString &line : QString::fromUtf8(file.readAll()).split('\n'))
            if (line.startsWith("start "))
                result << line.section(' ', 2);
    return result;
}

bool TestMainWindow::discover(const QString &report, int expectedRows)
{
    writeScript("discover.txt", {"out " + escaped(report)});
    click("runButton");
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
    const QRect rect = table()->visualItemRect(table()->item(row, 1));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, rect.center());
}

QString TestMainWindow::makeAlf(const QString &name, quint8 hi, quint8 lo)
{
    QByteArray bytes(1060, '\0');
    bytes[2] = char(hi);
    bytes[3] = char(lo);
    QFile file(name);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return QFileInfo(name).absoluteFilePath();
}

void TestMainWindow::prepareUpload()
{
    widget<QLineEdit>("filePathEdit")->setText(makeAlf("fw.alf", 1, 20));
    QCOMPARE(widget<QLabel>("versionLabel")->text(), QString("Target Version: v1.2.0"));
    table()->clearSelection();
    click("selectAllButton");
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    QCOMPARE(widget<QPushButton>("runButton")->text(), QString("Upload to Fixtures"));
}

void TestMainWindow::startsInDiscoveryMode()
{
    QCOMPARE(m_window->windowTitle(), QString("Orvane Ethernet Updater 1.1"));
    const QList<QPair<const char *, QString>> labels = {
        {"versionLabel", "Target Version: (none)"},
        {"textLabel", " Orvane Ethernet Updater"},
        {"forceUpdateLabel", QString::fromUtf8(" Skip Version Check\xEF\xBC\x9A ")},
        {"fileUpdateLabel", QString::fromUtf8(" Apply Update to selected Fixtures\xEF\xBC\x9A ")}};
    for (const auto &[name, text] : labels)
        QCOMPARE(widget<QLabel>(name)->text(), text);
    QCOMPARE(widget<QLabel>("textLabel")->font().pointSize(), 20);
    QCOMPARE(widget<QPushButton>("runButton")->text(), QString("Discover Fixtures"));
    QVERIFY(widget<QLineEdit>("filePathEdit")->isReadOnly());
    QCOMPARE(widget<QLineEdit>("filePathEdit")->placeholderText(), QString("Select a firmware file..."));
    QVERIFY(!widget<QCheckBox>("fileUpdateCheckBox")->isChecked());
    QVERIFY(!widget<QCheckBox>("forceUpdateCheckBox")->isChecked());
    QVERIFY(widget<QPushButton>("selectAllButton")->isHidden());

    QTableWidget *t = table();
    QCOMPARE(t->rowCount(), 0);
    QStringList headers;
    for (int c = 0; c < t->columnCount(); ++c)
        headers << t->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, QStringList({"Name", "IP", "Version", "Progress"}));
    QCOMPARE(t->selectionMode(), QAbstractItemView::MultiSelection);
    QCOMPARE(t->selectionBehavior(), QAbstractItemView::SelectRows);
    m_window->resize(100, 100);
    QVERIFY(m_window->width() >= 700 && m_window->height() >= 300);
}

void TestMainWindow::listsTheUpIPv4Addresses()
{
    QStringList expected;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces())
        if (iface.flags() & QNetworkInterface::IsUp)
            for (const QNetworkAddressEntry &entry : iface.addressEntries())
                if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    expected << entry.ip().toString();
    QComboBox *nic = widget<QComboBox>("nicComboBox");
    QTest::mouseClick(widget<QPushButton>("refreshButton"), Qt::LeftButton);
    QStringList listed;
    for (int i = 0; i < nic->count(); ++i)
        listed << nic->itemText(i);
    QCOMPARE(listed, expected);
    QVERIFY(listed.contains("127.0.0.1"));
    QCOMPARE(nic->currentIndex(), 0);
}

// The report arrives in pieces cut inside lines and blocks, its last line
// without a line feed; a fixture listed again keeps its row and name.
void TestMainWindow::discoveryFillsTheTable()
{
    const QString report = fixtureBlock("2.0.0.5", "Spot 1", "1.2.3") +
                           fixtureBlock("2.0.0.6", "Wash 2", "0.9.1") +
                           fixtureBlock("2.0.0.5", "Renamed", "1.2.4").chopped(2);
    const int cuts[] = {0, 20, 140, 200, 260, int(report.size())};
    QStringList script;
    for (int i = 0; i + 1 < 6; ++i)
        script << "out " + escaped(report.mid(cuts[i], cuts[i + 1] - cuts[i])) << "sleep 60";
    writeScript("discover.txt", script);
    click("runButton");
    waitDiscoveryEnd();

    QCOMPARE(startedArguments(), QStringList({"[-s ][127.0.0.1]"}));
    QTableWidget *t = table();
    QCOMPARE(t->rowCount(), 2);
    const QStringList expected = {"Spot 1", "2.0.0.5", "1.2.4", "Wash 2", "2.0.0.6", "0.9.1"};
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(t->item(i / 3, i % 3)->text(), expected[i]);
    QCOMPARE(bar(1)->value(), 0);
    QCOMPARE(bar(1)->maximum(), 100);
    QVERIFY(!widget<QPushButton>("selectAllButton")->isHidden());
    QVERIFY(m_window->isEnabled());
}

void TestMainWindow::startFailureBoxesAreAnswerable_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("discovery") << false << QStringList{"Failed to start the command."};
    QTest::newRow("upload") << true << QStringList{"Failed to start the command for IP: 2.0.0.5", kSummary};
}

void TestMainWindow::startFailureBoxesAreAnswerable()
{
    QFETCH(bool, upload);
    QFETCH(QStringList, texts);
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    if (upload)
        prepareUpload();
    QVERIFY(QFile::remove("lumiload"));
    ModalCatcher catcher(m_window);
    click("runButton");
    QCOMPARE(catcher.boxes.size(), texts.size());
    for (int i = 0; i < texts.size(); ++i) {
        QCOMPARE(catcher.boxes[i].text, texts[i]);
        QVERIFY(catcher.boxes[i].boxEnabled);
        QVERIFY(catcher.boxes[i].answered);
    }
    QCOMPARE(catcher.boxes[0].title, QString("Error"));
    QVERIFY(!catcher.boxes[0].windowEnabled);
    QVERIFY(m_window->isEnabled());
}

void TestMainWindow::interfaceFilter()
{
    QVERIFY(discover(fixtureBlock("127.0.0.5", "Local", "1.0.0") + fixtureBlock("10.1.2.3", "Ten", "1.0.0") +
                         fixtureBlock("127.9.9.9", "Local 2", "1.0.0"),
                     3));
    QTableWidget *t = table();
    clickRow(1);
    // Refreshing empties the selector, then makes the first entry current
    // and filters by it; the selection is cleared.
    QComboBox *nic = widget<QComboBox>("nicComboBox");
    QTest::mouseClick(widget<QPushButton>("refreshButton"), Qt::LeftButton);
    const QString first = nic->currentText().section('.', 0, 0);
    QVERIFY(t->selectedRanges().isEmpty());
    QCOMPARE(t->isRowHidden(1), first != "10");

    if (nic->currentText() == "127.0.0.1")
        nic->setCurrentIndex(-1);
    nic->setCurrentIndex(nic->findText("127.0.0.1"));
    QCOMPARE(QList<bool>({t->isRowHidden(0), t->isRowHidden(1), t->isRowHidden(2)}),
             QList<bool>({false, true, false}));
    nic->setCurrentIndex(-1);
    QVERIFY(widget<QPushButton>("selectAllButton")->isHidden());
    // A fixture found after the filter ran is shown whatever its address.
    QVERIFY(discover(fixtureBlock("192.168.7.7", "Late", "1.0.0"), 4));
    QVERIFY(!t->isRowHidden(3));
}

void TestMainWindow::selectionAndReadOnlyCells()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0") +
                         fixtureBlock("2.0.0.7", "C", "1.0.0"),
                     3));
    QItemSelectionModel *selection = table()->selectionModel();
    click("selectAllButton");
    QCOMPARE(selection->selectedRows().size(), 3);
    click("selectAllButton");
    QCOMPARE(selection->selectedRows().size(), 0);
    clickRow(1);
    click("selectAllButton");
    QCOMPARE(selection->selectedRows().size(), 0);

    // A press on any header section, with any button, toggles on the press.
    QHeaderView *header = table()->horizontalHeader();
    const QPoint onIp(header->sectionViewportPosition(1) + 5, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, onIp);
    QCOMPARE(selection->selectedRows().size(), 3);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, onIp);
    QTest::mouseClick(header->viewport(), Qt::RightButton, {}, onIp);
    QCOMPARE(selection->selectedRows().size(), 0);

    for (int column = 0; column < 3; ++column)
        QVERIFY(!(table()->item(0, column)->flags() & Qt::ItemIsEditable));
}

void TestMainWindow::uploadBoxWithoutFileOrSelection()
{
    // Without a file the upload box still runs a discovery.
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    QCOMPARE(startedArguments(), QStringList({"[-s ][127.0.0.1]"}));
    QVERIFY(!widget<QCheckBox>("fileUpdateCheckBox")->isChecked());
    QCOMPARE(widget<QPushButton>("runButton")->text(), QString("Discover Fixtures"));

    // With a file but no row selected nothing starts.
    prepareUpload();
    table()->clearSelection();
    ModalCatcher catcher(m_window);
    click("runButton");
    QCOMPARE(startedArguments().size(), 1);
    QVERIFY(catcher.boxes.isEmpty());
    QVERIFY(!widget<QCheckBox>("fileUpdateCheckBox")->isChecked());
}

void TestMainWindow::uploadsRunOneByOneInTableOrder()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0") +
                         fixtureBlock("2.0.0.7", "C", "1.0.0"),
                     3));
    const QString path = makeAlf("fw.alf", 1, 20);
    widget<QLineEdit>("filePathEdit")->setText(path);
    writeScript("upload.txt", {"out    blockCount=4\\n    progress=F - - LG\\n", "sleep 50",
                               "out # Firmware uploaded successfully\\n"});
    clickRow(2);
    clickRow(0);
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    click("runButton");

    const QString common = "[-i][-f][" + path + "][-m][-s ][127.0.0.1]";
    QCOMPARE(startedArguments(),
             QStringList({"[-s ][127.0.0.1]", common + "[-d][2.0.0.5]", common + "[-d][2.0.0.7]"}));
    QFile log("calls.log");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QStringList kinds;
    for (const QByteArray &line : log.readAll().split('\n'))
        if (!line.isEmpty())
            kinds << QString(line).section(' ', 0, 0);
    QCOMPARE(kinds, QStringList({"start", "end", "start", "end", "start", "end"}));
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    QCOMPARE(bar(1)->format(), QString("%p%"));
    QCOMPARE(bar(2)->format(), QString("Upload Successful"));
}

void TestMainWindow::equalVersionIsSkippedUnlessForced()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "Same", "1.2.0") + fixtureBlock("2.0.0.6", "Older", "1.1.0"), 2));
    writeScript("upload.txt", {kSuccess});
    prepareUpload();
    click("runButton");
    QStringList started = startedArguments();
    QCOMPARE(started.size(), 2);
    QVERIFY(started[1].endsWith("[-d][2.0.0.6]"));
    QCOMPARE(bar(0)->format(), QString("Version Skipped"));
    QCOMPARE(highlightOf(bar(0)), QColor(Qt::green));
    QCOMPARE(table()->item(1, 2)->text(), QString("1.2.0"));

    widget<QCheckBox>("forceUpdateCheckBox")->click();
    prepareUpload();
    click("runButton");
    started = startedArguments();
    QCOMPARE(started.size(), 4);
    QVERIFY(started[2].endsWith("[-d][2.0.0.5]"));
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
}

// Range from the first blockCount, every "-" one more, success fills the
// bar; an error, a crash or silence fails the row when its child ends; a
// stall turns the row red until a late success turns it green again.
void TestMainWindow::progressVerdictsAndSummary()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "Good", "1.0.0") + fixtureBlock("2.0.0.6", "Errors", "1.0.0") +
                         fixtureBlock("2.0.0.7", "Slow", "1.0.0") + fixtureBlock("2.0.0.8", "Silent", "1.0.0") +
                         fixtureBlock("2.0.0.9", "Crashes", "1.0.0") + fixtureBlock("2.0.0.10", "Waits", "1.0.0"),
                     6));
    writeScript("script-2.0.0.5.txt", {"out # Art-Net\\n    blockCount=10\\n", "sleep 100",
                                       "out    blockCount=99\\n    progress=F - - ", "sleep 100",
                                       "out - - - - - - LG\\n# Firmware uploaded successfully\\n"});
    writeScript("script-2.0.0.6.txt", {"out    blockCount=10\\n    progress=F - -T", "sleep 50", "exit 1"});
    writeScript("script-2.0.0.7.txt", {"out    blockCount=10\\n    progress=F - - - ", "sleep 800",
                                       "out LG\\n# Firmware uploaded successfully\\n"});
    writeScript("script-2.0.0.8.txt", {"exit 1"});
    writeScript("script-2.0.0.9.txt", {"out    blockCount=10\\n    progress=F - ", "sleep 50", "crash"});
    // Silent at the start of its bar: not marked.
    writeScript("script-2.0.0.10.txt", {"out    blockCount=3\\n    progress=F", "sleep 800",
                                        "out  - LG\\n# Firmware uploaded successfully\\n"});
    prepareUpload();

    BarWatcher good(bar(0));
    BarWatcher slow(bar(2));
    BarWatcher waits(bar(5));
    ModalCatcher catcher(m_window);
    click("runButton");
    good.sample();
    QVERIFY2(good.states.contains("1/10 %p%"), "the banner's dash, range from the first blockCount");
    QVERIFY(good.states.contains("3/10 %p%"));
    QVERIFY2(slow.states.contains("3/10 Upload Failed"), "stalled upload marked while its child ran");
    QVERIFY(waits.states.filter("Upload Failed").isEmpty());

    for (int row = 0; row < 6; ++row) {
        const bool ok = row == 0 || row == 2 || row == 5;
        QCOMPARE(bar(row)->format(), QString(ok ? "Upload Successful" : "Upload Failed"));
        QCOMPARE(highlightOf(bar(row)), QColor(ok ? Qt::green : Qt::red));
    }
    QCOMPARE(bar(0)->value(), 10);
    QCOMPARE(table()->item(0, 2)->text(), QString("1.2.0"));
    QCOMPARE(table()->item(1, 2)->text(), QString("1.0.0"));
    QCOMPARE(catcher.boxes.size(), 1);
    QCOMPARE(catcher.boxes[0].title, QString("Warning"));
    QCOMPARE(catcher.boxes[0].text, kSummary);
    QList<int> selected;
    for (const QModelIndex &index : table()->selectionModel()->selectedRows())
        selected << index.row();
    std::sort(selected.begin(), selected.end());
    QCOMPARE(selected, QList<int>({1, 3, 4}));

    // No late mark after the run.
    QTest::qWait(500);
    QCOMPARE(bar(2)->format(), QString("Upload Successful"));
}

void TestMainWindow::newRunResetsBars()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    writeScript("upload.txt", {kSuccess});
    prepareUpload();
    click("runButton");
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));

    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.2.0"), 1));
    QCOMPARE(bar(0)->format(), QString("%p%"));
    QCOMPARE(highlightOf(bar(0)), QColor(Qt::blue));
    QCOMPARE(bar(0)->value(), 0);
    QCOMPARE(bar(0)->maximum(), 3); // the range stays until a new total arrives
}

void TestMainWindow::browseRemembersDirectoryAndReadsVersion()
{
    QVERIFY(QDir().mkpath("images"));
    const QString path = makeAlf("images/fw.alf", 0x12, 3);
    const QString images = QFileInfo(path).absolutePath();
    QString startDirectory;
    {
        ModalCatcher catcher(m_window);
        catcher.fileDialog = [&](QFileDialog *dialog) { pickFile(dialog, path); };
        click("browseButton");
    }
    QLabel *label = widget<QLabel>("versionLabel");
    QCOMPARE(widget<QLineEdit>("filePathEdit")->text(), path);
    QCOMPARE(label->text(), QString("Target Version: v1.2.3"));
    QCOMPARE(QSettings("YourCompanyName", "YourAppName").value("lastDirectory").toString(), images);

    // A file too short to hold the version leaves the label; "Discover
    // Fixtures" re-reads the file at the shown path.
    QFile shortFile("short.alf");
    QVERIFY(shortFile.open(QIODevice::WriteOnly));
    shortFile.write("AB\x01", 3);
    shortFile.close();
    widget<QLineEdit>("filePathEdit")->setText(QFileInfo("short.alf").absoluteFilePath());
    QCOMPARE(label->text(), QString("Target Version: v1.2.3"));
    makeAlf("short.alf", 2, 0);
    writeScript("discover.txt", {"exit 1"});
    click("runButton");
    QCOMPARE(label->text(), QString("Target Version: v2.0.0"));
    waitDiscoveryEnd();

    // A new window starts the dialog in the remembered directory.
    delete m_window;
    m_window = new MainWindow;
    m_window->show();
    ModalCatcher catcher(m_window);
    catcher.fileDialog = [&](QFileDialog *dialog) {
        startDirectory = dialog->directory().absolutePath();
        dialog->reject();
    };
    click("browseButton");
    QCOMPARE(startDirectory, images);
    QVERIFY(widget<QLineEdit>("filePathEdit")->text().isEmpty());
}

void TestMainWindow::closeIsRefusedDuringUpload()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    writeScript("upload.txt", {"out    blockCount=10\\n    progress=F - ", "sleep 1000",
                               "out - - - - - - - LG\\n# Firmware uploaded successfully\\n"});
    prepareUpload();
    bool closedDuringRun = true;
    QTimer::singleShot(400, m_window, [&] { closedDuringRun = m_window->close(); });
    ModalCatcher catcher(m_window);
    click("runButton");

    QVERIFY(!closedDuringRun);
    QCOMPARE(catcher.boxes.size(), 1);
    QVERIFY(catcher.boxes[0].text.contains("upload is in progress"));
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    QVERIFY(m_window->close());
}

void TestMainWindow::closeStopsRunningDiscovery()
{
    writeScript("discover.txt", {"out " + escaped(fixtureBlock("2.0.0.5", "A", "1.0.0")), "sleep 20000"});
    click("runButton");
    QTRY_COMPARE(table()->rowCount(), 1);
    QFile log("calls.log");
    QVERIFY(log.open(QIODevice::ReadOnly));
    const pid_t pid = pid_t(QString(log.readLine()).section(' ', 1, 1).toLongLong());
    QVERIFY(pid > 0 && ::kill(pid, 0) == 0);
    QVERIFY(m_window->close());
    QVERIFY(::kill(pid, 0) != 0);
}

int main(int argc, char **argv)
{
    // Settings of this run stay in a scratch directory.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    // Closing a test's window must not end the application's event loops.
    QApplication::setQuitOnLastWindowClosed(false);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_MainWindow.moc"
