// MainWindow driven through its widgets, with the stand-in ./lumiload in a
// scratch working directory playing scripted output. Every modal box is
// recorded and answered by m_boxes.
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
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include "DeskStyle.h"
#include "MainWindow.h"
#include "UploadJob.h"
#include "alfgen.h"
#include "desk_test_support.h"

namespace {

QString escaped(QString text)
{
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r");
}

// A discovery report's fixture block, lines ended as the Windows build ends
// them; OEM code 0x0101 unless given.
QString fixtureBlock(const QString &ip, const QString &name, const QString &version,
                     const QString &oem = "0x0101")
{
    return "Fixture detected:\r\n    ip=" + ip + "\r\n    mac=00:11:22:33:44:55\r\n    estaMan=0x4d2a\r\n" +
           "    oemCode=" + oem + "\r\n    version=" + version + "\r\n    portName=Spot\r\n    longName=" +
           name + "\r\n";
}

const QString kConfirmed = "# Waiting for the fixture to restart\\n# Confirmed: the fixture reports version 1.2.0\\n";
const QString kSuccess = "out    blockCount=3\\n    progress=F - LG\\n# Firmware uploaded successfully\\n" + kConfirmed;
const QString kSummary = "Some devices failed to update. Please check the table for details.";

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsInDiscoveryMode();
    void interfaceListShowsNamesAndRemembersTheLastOne();
    void discoveryFillsTheTableAndSaysWhatItFound();
    void startFailureBoxesAreAnswerable_data();
    void startFailureBoxesAreAnswerable();
    void tableFilterAndSelection();
    void nothingToDoIsSaid_data();
    void nothingToDoIsSaid();
    void uploadsRunOneByOneInTableOrderAfterConfirmation();
    void confirmationNamesEveryFixture();
    void longConfirmationFitsTheScreen();
    void revertedFixtureFailsAndRunSettingsReachLumiload();
    void retrySelectionIsWhatTheOperatorSees();
    void progressReasonsAndSummary();
    void stopAfterThisFixtureAndBarsOutsideTheRun();
    void parallelRunFollowsEachFixture();
    void parallelRunStopsAfterTheFixturesInFlight();
    void browseChecksTheImage();
    void firmwareFolderIsPlannedAndConfirmed();
    void closing();
    void checkBoxFramesAreVisible();
    void readableAtEverySizeAndRemembered();
    void rewordedReasonsChangeNoStateOrCount();

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
    QString status() { return widget<QLabel>("statusLabel")->text(); }
    void click(const char *button) { QTest::mouseClick(widget<QPushButton>(button), Qt::LeftButton); }

    void writeScript(const QString &name, const QStringList &commands);
    QStringList startedArguments() const;
    bool discover(const QString &report, int expectedRows);
    void waitDiscoveryEnd();
    void clickRow(int row);
    QString makeAlf(const QString &name, quint8 hi, quint8 lo, quint16 oem = 0x0101);
    // Chooses an image (1.2.0 unless given), selects every row and ticks the
    // upload box.
    void prepareUpload(const QString &image = QString());

    std::unique_ptr<QTemporaryDir> m_dir;
    MainWindow *m_window = nullptr;
    std::unique_ptr<ModalCatcher> m_boxes;
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
    QSettings settings("YourCompanyName", "YourAppName");
    settings.clear();
    settings.setValue("lastInterface", "127.0.0.1");

    m_boxes = std::make_unique<ModalCatcher>();
    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestMainWindow::cleanup()
{
    delete m_window;
    m_window = nullptr;
    m_boxes.reset();
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TestMainWindow::writeScript(const QString &name, const QStringList &commands)
{
    QVERIFY(writeStandInScript(name, commands));
}

QStringList TestMainWindow::startedArguments() const
{
    return standInCalls();
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
    QTRY_VERIFY(widget<QPushButton>("runButton")->isEnabled());
}

void TestMainWindow::clickRow(int row)
{
    const QRect rect = table()->visualItemRect(table()->item(row, 1));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, rect.center());
}

QString TestMainWindow::makeAlf(const QString &name, quint8 hi, quint8 lo, quint16 oem)
{
    AlfImageSpec spec;
    spec.version_hi = hi;
    spec.version_lo = lo;
    spec.name = oem == 0x0101 ? "Spot firmware" : "Wash firmware";
    spec.oem_slots = {oem};
    write_binary_file(name.toStdString(), make_alf_image(spec));
    return QFileInfo(name).absoluteFilePath();
}

void TestMainWindow::prepareUpload(const QString &image)
{
    widget<QLineEdit>("filePathEdit")->setText(image.isEmpty() ? makeAlf("fw.alf", 1, 20) : image);
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
        if (!t->isColumnHidden(c))   // the image column shows with a firmware folder
            headers << t->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, QStringList({"Name", "IP", "Version", "Progress", "Reason"}));
    QCOMPARE(t->selectionBehavior(), QAbstractItemView::SelectRows);   // the selection mode: the runs' tests
    m_window->resize(100, 100);
    QVERIFY(m_window->width() >= 700 && m_window->height() >= 300);
}

// One entry per IPv4 address of an interface that is up, shown with the
// interface's name; the address alone is what lumiload gets. The interface
// of the last run is chosen again, also after a refresh.
void TestMainWindow::interfaceListShowsNamesAndRemembersTheLastOne()
{
    QStringList expected;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces())
        if (iface.flags() & QNetworkInterface::IsUp)
            for (const QNetworkAddressEntry &entry : iface.addressEntries())
                if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    expected << entry.ip().toString() + " (" + iface.humanReadableName() + ")";
    QComboBox *nic = widget<QComboBox>("nicComboBox");
    QTest::mouseClick(widget<QPushButton>("refreshButton"), Qt::LeftButton);
    QStringList listed;
    for (int i = 0; i < nic->count(); ++i)
        listed << nic->itemText(i);
    QCOMPARE(listed, expected);
    QCOMPARE(nic->currentData().toString(), QString("127.0.0.1"));
    QVERIFY(nic->currentText().startsWith("127.0.0.1 ("));

    QSettings("YourCompanyName", "YourAppName").remove("lastInterface");
    QVERIFY(discover("", 0));   // only where fixtures answered
    QVERIFY(!QSettings("YourCompanyName", "YourAppName").contains("lastInterface"));
    QVERIFY(discover(fixtureBlock("127.0.0.5", "A", "1.0.0"), 1));
    QCOMPARE(QSettings("YourCompanyName", "YourAppName").value("lastInterface").toString(), QString("127.0.0.1"));
}

// The report arrives in pieces cut inside lines and blocks, its last line
// without a line feed; a fixture listed again keeps its row and takes the
// new name and version. Fixtures missing from a later discovery stay,
// greyed.
void TestMainWindow::discoveryFillsTheTableAndSaysWhatItFound()
{
    const QString report = fixtureBlock("2.0.0.5", "Spot 1", "1.2.3") + fixtureBlock("2.0.0.6", "Wash 2", "0.9.1") +
                           fixtureBlock("2.0.0.5", "Renamed", "1.2.4").chopped(2);
    const int cuts[] = {0, 20, 140, 200, 260, int(report.size())};
    QStringList script;
    for (int i = 0; i + 1 < 6; ++i)
        script << "out " + escaped(report.mid(cuts[i], cuts[i + 1] - cuts[i])) << "sleep 100";
    writeScript("discover.txt", script);
    click("runButton");
    // While it listens: a busy sign, and no second run can start.
    QVERIFY(!widget<QPushButton>("runButton")->isEnabled());
    QVERIFY(widget<QProgressBar>("busyIndicator")->isVisible());
    waitDiscoveryEnd();
    QVERIFY(!widget<QProgressBar>("busyIndicator")->isVisible());

    QTableWidget *t = table();
    QCOMPARE(t->rowCount(), 2);
    const QStringList expected = {"Renamed", "2.0.0.5", "1.2.4", "Wash 2", "2.0.0.6", "0.9.1"};
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(t->item(i / 3, i % 3)->text(), expected[i]);
    QCOMPARE(bar(1)->maximum(), 100);
    QCOMPARE(status(), QString("2 fixtures found on 127.0.0.1"));

    QVERIFY(discover(fixtureBlock("2.0.0.6", "Wash 2", "0.9.1"), 2));
    QCOMPARE(t->item(0, 0)->foreground().color(), QColor(Qt::gray));
    QCOMPARE(t->item(0, 1)->toolTip(), QString("Not seen in the latest discovery"));
    QVERIFY(t->item(1, 0)->toolTip().isEmpty());
    QVERIFY(discover("", 2));
    QCOMPARE(status(), QString("No fixture answered on 127.0.0.1: check the interface"));

    // A discovery that fails says why.
    writeScript("discover.txt", {"err Error: Failed to bind UDP socket: Address already in use\\n"
                                 "    Port 6454 is in use by console (pid 42).\\nError: run_poll failed\\n",
                                 "exit 1"});
    click("runButton");
    waitDiscoveryEnd();
    QVERIFY(status().contains("Discovery failed on 127.0.0.1: UDP port 6454 is already in use on this "
                              "computer by console (pid 42)"));
    QTRY_COMPARE(m_boxes->boxes.size(), 1);
    QVERIFY(m_boxes->boxes[0].text.startsWith("The discovery failed: UDP port 6454"));
}

void TestMainWindow::startFailureBoxesAreAnswerable_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("discovery") << false << QStringList{"Failed to start the command."};
    QTest::newRow("upload") << true
                            << QStringList{"Update 1 fixture to v1.2.0?",
                                           "Failed to start the command for IP: 2.0.0.5", kSummary};
}

void TestMainWindow::startFailureBoxesAreAnswerable()
{
    QFETCH(bool, upload);
    QFETCH(QStringList, texts);
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 1));
    if (upload)
        prepareUpload();
    QVERIFY(QFile::remove("lumiload"));
    click("runButton");
    QCOMPARE(m_boxes->boxes.size(), texts.size());
    for (int i = 0; i < texts.size(); ++i) {
        QCOMPARE(m_boxes->boxes[i].text, texts[i]);
        QVERIFY(m_boxes->boxes[i].boxEnabled);
        QVERIFY(m_boxes->boxes[i].answered);
    }
    QVERIFY(widget<QPushButton>("runButton")->isEnabled());
}

// Rows show by the interface's first number; the header and the button
// toggle the selection; cells cannot be edited.
void TestMainWindow::tableFilterAndSelection()
{
    QVERIFY(discover(fixtureBlock("127.0.0.5", "Local", "1.0.0") + fixtureBlock("10.1.2.3", "Ten", "1.0.0") +
                         fixtureBlock("127.9.9.9", "Local 2", "1.0.0"),
                     3));
    QTableWidget *t = table();
    clickRow(1);
    QComboBox *nic = widget<QComboBox>("nicComboBox");
    nic->setCurrentIndex(-1);
    QVERIFY(t->selectedRanges().isEmpty());
    QVERIFY(widget<QPushButton>("selectAllButton")->isHidden());
    nic->setCurrentIndex(nic->findData("127.0.0.1"));
    QCOMPARE(QList<bool>({t->isRowHidden(0), t->isRowHidden(1), t->isRowHidden(2)}),
             QList<bool>({false, true, false}));
    // A fixture found after the filter ran is shown whatever its address.
    QVERIFY(discover(fixtureBlock("192.168.7.7", "Late", "1.0.0"), 4));
    QVERIFY(!t->isRowHidden(3));

    QItemSelectionModel *selection = t->selectionModel();
    click("selectAllButton");
    QCOMPARE(selection->selectedRows().size(), 4);
    click("selectAllButton");
    QCOMPARE(selection->selectedRows().size(), 0);
    clickRow(0);
    click("selectAllButton");
    QCOMPARE(selection->selectedRows().size(), 0);

    // A press on any header section, with any button, toggles on the press.
    QHeaderView *header = table()->horizontalHeader();
    const QPoint onIp(header->sectionViewportPosition(1) + 5, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, onIp);
    QCOMPARE(selection->selectedRows().size(), 4);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, onIp);
    QTest::mouseClick(header->viewport(), Qt::RightButton, {}, onIp);
    QCOMPARE(selection->selectedRows().size(), 0);
    for (int column = 0; column < 3; ++column)
        QVERIFY(!(table()->item(0, column)->flags() & Qt::ItemIsEditable));
}

void TestMainWindow::nothingToDoIsSaid_data()
{
    QTest::addColumn<bool>("parallel");
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<int>("selectedRow");   // -1 for none
    QTest::addColumn<QString>("text");
    const QString none = "Select the fixtures to update first: no fixture is selected.";
    const QString current = "Nothing to update: none of the selected fixtures needs this image.";
    QTest::newRow("no file") << false << false << 0 << "Choose a firmware file with Browse first: there is nothing to upload.";
    QTest::newRow("nothing selected") << false << true << -1 << none;
    QTest::newRow("nothing selected, parallel") << true << true << -1 << none;
    QTest::newRow("only current fixtures") << false << true << 1 << current;
    QTest::newRow("only current fixtures, parallel") << true << true << 1 << current;
}

// Said in a box; no child starts, and the status line keeps what it said.
void TestMainWindow::nothingToDoIsSaid()
{
    QFETCH(bool, parallel);
    QFETCH(bool, withFile);
    QFETCH(int, selectedRow);
    QFETCH(QString, text);
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.2.0"), 2));
    widget<QCheckBox>("parallelCheckBox")->setChecked(parallel);
    prepareUpload();
    if (!withFile)
        widget<QLineEdit>("filePathEdit")->clear();
    table()->clearSelection();
    if (selectedRow >= 0)
        clickRow(selectedRow);
    click("runButton");
    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].text, text);
    QCOMPARE(startedArguments().size(), 1);
    QCOMPARE(status(), QString("2 fixtures found on 127.0.0.1"));
}

void TestMainWindow::uploadsRunOneByOneInTableOrderAfterConfirmation()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.2.0") +
                         fixtureBlock("2.0.0.7", "C", "1.0.0"),
                     3));
    const QString path = makeAlf("fw.alf", 1, 20);
    prepareUpload(path);
    table()->clearSelection();
    widget<QCheckBox>("fileUpdateCheckBox")->click();

    writeScript("upload.txt", {"out    blockCount=4\\n    progress=F - - LG\\n", "sleep 50",
                               "out # Firmware uploaded successfully\\n" + kConfirmed});
    clickRow(2);
    clickRow(1);
    clickRow(0);
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    m_boxes->answer = QMessageBox::Cancel;
    click("runButton");
    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].text, QString("Update 2 fixtures to v1.2.0?"));
    QCOMPARE(m_boxes->boxes[0].informative, QString::fromUtf8("To update (2):\n    A (2.0.0.5): 1.0.0 \u2192 1.2.0\n"
                                                              "    C (2.0.0.7): 1.0.0 \u2192 1.2.0\n"
                                                              "1 fixture already runs v1.2.0 and is skipped."));
    QCOMPARE(startedArguments().size(), 1);

    m_boxes->answer = QMessageBox::Ok;
    click("runButton");
    const QString common = "[-i][-f][" + path + "][-m][-s ][127.0.0.1][-c]";
    QCOMPARE(startedArguments(),
             QStringList({"[-s ][127.0.0.1]", common + "[-d][2.0.0.5]", common + "[-d][2.0.0.7]"}));
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    QCOMPARE(bar(1)->format(), QString("Version Skipped"));
    QCOMPARE(status(), QString("Update finished: 2 updated, 1 skipped as current, 0 failed."));
}

// In sections: updated, flashed again (the skip box ticked, for this run
// only), downgraded (asked twice), not seen in the latest discovery.
void TestMainWindow::confirmationNamesEveryFixture()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.2.0") +
                         fixtureBlock("2.0.0.7", "C", "2.2.3") + fixtureBlock("2.0.0.8", "Gone", "1.0.0"),
                     4));
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.2.0") +
                         fixtureBlock("2.0.0.7", "C", "2.2.3"), 4));
    writeScript("upload.txt", {kSuccess});
    prepareUpload();
    widget<QCheckBox>("forceUpdateCheckBox")->click();
    m_boxes->answers = {QMessageBox::Ok, QMessageBox::Cancel};
    click("runButton");
    QCOMPARE(m_boxes->boxes.size(), 2);
    QCOMPARE(m_boxes->boxes[0].text, QString("Update 4 fixtures to v1.2.0?"));
    QCOMPARE(m_boxes->boxes[0].informative,
             QString::fromUtf8("To update (2):\n    A (2.0.0.5): 1.0.0 \u2192 1.2.0\n    Gone (2.0.0.8): 1.0.0 \u2192 1.2.0\n"
                               "Flashed again at the same version (1):\n    B (2.0.0.6): 1.2.0\n"
                               "Downgraded (1):\n    C (2.0.0.7): 2.2.3 \u2192 1.2.0\n"
                               "Not seen in the latest discovery (1):\n    Gone (2.0.0.8): 1.0.0"));
    QCOMPARE(m_boxes->boxes[1].text, QString("Downgrade 1 fixture to the older v1.2.0?"));
    QCOMPARE(startedArguments().size(), 2);
    click("runButton");
    QCOMPARE(startedArguments().size(), 6);
    QVERIFY(!widget<QCheckBox>("forceUpdateCheckBox")->isChecked());
}

// A rig's confirmation shows each section's first ten fixtures and how many
// more; "Show Details..." names every one.
void TestMainWindow::longConfirmationFitsTheScreen()
{
    QString report;
    for (int i = 0; i < 45; ++i)
        report += fixtureBlock(QString("2.0.1.%1").arg(i), QString("F%1").arg(i), "1.0.0");
    QVERIFY(discover(report, 45));
    prepareUpload();
    m_boxes->answer = QMessageBox::Cancel;
    click("runButton");
    QCOMPARE(m_boxes->boxes.size(), 1);
    const QStringList shown = m_boxes->boxes[0].informative.split('\n'), all = m_boxes->boxes[0].detailed.split('\n');
    QCOMPARE(shown.size(), 12);
    QCOMPARE(shown.first(), QString("To update (45):"));
    QCOMPARE(shown.last(), QString("... and 35 more (Show Details... lists them all)"));
    QCOMPARE(all.size(), 46);
    QVERIFY(all.last().startsWith("    F44 (2.0.1.44): 1.0.0"));
}

// A fixture that comes back with its old firmware failed, shows the version
// it runs and why; one that a later discovery finds at another version than
// its update confirmed says so. The restart wait, retries and failure limit
// reach lumiload (the failure limit of a run one by one is the window's) and
// are remembered.
void TestMainWindow::revertedFixtureFailsAndRunSettingsReachLumiload()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0") +
                         fixtureBlock("2.0.0.7", "C", "1.0.0"), 3));
    writeScript("script-2.0.0.5.txt", {kSuccess});
    writeScript("script-2.0.0.6.txt", {"out    blockCount=3\\n    progress=F - LG\\n# Firmware uploaded successfully\\n"
                                       "# Waiting for the fixture to restart\\n",
                                       "err Error: the fixture came back with version 1.0.0, not 1.2.0\\n", "exit 1"});
    const QList<QPair<const char *, int>> settings = {{"retriesSpinBox", 2}, {"restartWaitSpinBox", 90},
                                                      {"failureLimitSpinBox", 1}};
    for (const auto &[name, value] : settings)
        widget<QSpinBox>(name)->setValue(value);
    prepareUpload();
    click("runButton");
    QVERIFY(startedArguments()[1].endsWith("[-c][-w][90][-r][2][-d][2.0.0.5]"));
    QCOMPARE(bar(1)->format(), QString("Upload Failed"));
    QCOMPARE(highlightOf(bar(1)), QColor(Qt::red));
    QCOMPARE(table()->item(1, 2)->text(), QString("1.0.0"));
    QCOMPARE(table()->item(1, 4)->text(), QString("Came back with 1.0.0, not 1.2.0."));
    QVERIFY(table()->item(2, 4)->text().startsWith("Not started: 1 fixture failed"));
    QCOMPARE(status(), QString("Update finished: 1 updated, 0 skipped as current, 1 failed, 1 not started."));

    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0"), 3));
    QCOMPARE(bar(0)->format(), QString("Version Changed"));
    QVERIFY(table()->item(0, 4)->text().startsWith("The latest discovery reports version 1.0.0, not the 1.2.0"));

    delete m_window;
    m_window = new MainWindow;
    m_window->show();
    for (const auto &[name, value] : settings)
        QCOMPARE(widget<QSpinBox>(name)->value(), value);
    widget<QCheckBox>("parallelCheckBox")->setChecked(true);
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0"), 2));
    writeScript("upload.txt", {"exit 1"});
    prepareUpload();
    click("runButton");
    QVERIFY(startedArguments().last().endsWith("[-p][2][-c][-w][90][-r][2][-k][1][-u][2.0.0.5,2.0.0.6][-S]"));
}

// After a failed run the window selects the fixtures of that run that
// failed, but only those the operator can see: seen in the latest
// discovery and in view.
void TestMainWindow::retrySelectionIsWhatTheOperatorSees()
{
    QString report;
    for (int i = 0; i < 30; ++i)
        report += fixtureBlock(QString("2.0.0.%1").arg(10 + i), QString("F%1").arg(i), "1.0.0");
    QVERIFY(discover(report, 30));
    writeScript("upload.txt", {"err Error: no fixture to update.\\n", "exit 1"});
    const auto runOn = [&](const QList<int> &rows) {
        table()->clearSelection();
        for (int row : rows) {
            table()->scrollToItem(table()->item(row, 0));
            clickRow(row);
        }
        widget<QCheckBox>("fileUpdateCheckBox")->setChecked(true);
        click("runButton");
    };
    prepareUpload();
    runOn({27});   // in view after the next run, its failure an earlier run's
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 1);
    QVERIFY(discover(QString(report).remove(fixtureBlock("2.0.0.38", "F28", "1.0.0")), 30));
    runOn({2, 28, 29});   // out of view; not seen; the one to select
    const QModelIndexList selected = table()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected[0].row(), 29);
}

// The bar counts the blocks the fixture accepted (never the dashes of a
// path or a status word) and is full only with the success line; a failure
// is decided when its child ends, carries its reason, and is summarised.
void TestMainWindow::progressReasonsAndSummary()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "Good", "1.0.0") + fixtureBlock("2.0.0.6", "Errors", "1.0.0") +
                         fixtureBlock("2.0.0.7", "Slow", "1.0.0") + fixtureBlock("2.0.0.8", "Silent", "1.0.0") +
                         fixtureBlock("2.0.0.9", "Crashes", "1.0.0") + fixtureBlock("2.0.0.10", "Waits", "1.0.0"),
                     6));
    writeScript("script-2.0.0.5.txt",
                {"out # Art-Net\\nOpened ALF file /Show-2024-05-01-Rig-A/spot-575-fw-v1-2-0.alf: \\n"
                 "    blockCount=10\\n    upgradeStatus=upgrade-required\\n",
                 "sleep 100", "out    blockCount=99\\n    progress=F - - ", "sleep 100",
                 "out - - - - - - LG\\n# Firmware uploaded successfully\\n" + kConfirmed});
    writeScript("script-2.0.0.6.txt", {"out    blockCount=10\\n    progress=F - -TTT\\n\\n",
                                       "err Error: Firmware upload failed.\\n", "exit 1"});
    writeScript("script-2.0.0.7.txt", {"out    blockCount=10\\n    progress=F - - -T", "sleep 1200",
                                       "out LG\\n# Firmware uploaded successfully\\n" + kConfirmed});
    writeScript("script-2.0.0.8.txt", {"err Error: no fixture to update.\\n", "exit 1"});
    writeScript("script-2.0.0.9.txt", {"out    blockCount=10\\n    progress=F - ", "sleep 50", "crash"});
    // Silent at the start of its bar: not marked.
    writeScript("script-2.0.0.10.txt", {"out    blockCount=3\\n    progress=F", "sleep 800",
                                        "out  - LG\\n# Firmware uploaded successfully\\n# Waiting for the fixture to restart\\n",
                                        "sleep 300", "out # Confirmed: the fixture reports version 1.2.0\\n"});
    prepareUpload();

    BarWatcher good(bar(0));
    BarWatcher slow(bar(2));
    BarWatcher waits(bar(5));
    QStringList statuses;
    QTimer statusWatch;
    QSet<QString> slowNotes;
    QMap<QString, QString> slowColours;   // of the quiet state, by the bar's text
    connect(&statusWatch, &QTimer::timeout, [&] {
        statuses << status();
        slowNotes << table()->item(2, 4)->text();
        if (bar(2)->format().startsWith("No reply"))
            slowColours[bar(2)->format()] = highlightOf(bar(2)).name();
    });
    statusWatch.start(20);
    click("runButton");
    good.sample();
    QVERIFY2(good.states.contains("0/10 %p%") && good.states.contains("3/10 %p%"),
             qPrintable(good.states.join(" | ")));
    QVERIFY(good.states.filter(QRegularExpression("^([1-9]|10)/10 %p%")).size() == 1);
    QVERIFY2(slow.states.contains("3/10 No reply yet"), qPrintable(slow.states.join(" | ")));
    QVERIFY(slowNotes.contains("No reply yet, attempt 2 of 3."));
    QCOMPARE(slowColours.values(), QList<QString>({"#e69600"}));
    QVERIFY(slow.states.filter("Upload Failed").isEmpty());
    QVERIFY(waits.states.filter("No reply").isEmpty());
    QVERIFY(!statuses.filter(QRegularExpression("^Fixture 3 of 6 \\(2\\.0\\.0\\.7\\), up to .* left$")).isEmpty());
    // Its restart wait still counts, up to the full minute.
    QVERIFY(!statuses.filter(QRegularExpression("^Fixture 6 of 6 \\(2\\.0\\.0\\.10\\): waiting for its restart, "
                                                "up to (1 min 0 s|[1-5]?[0-9] s) left$")).isEmpty());

    const QStringList reasons = {"",
                                 "no reply to block 3 of 10 after three attempts. The fixture accepted 2 of 10",
                                 "", "did not answer", "stopped unexpectedly", ""};
    for (int row = 0; row < 6; ++row) {
        const bool ok = reasons[row].isEmpty();
        QCOMPARE(bar(row)->format(), QString(ok ? "Upload Successful" : "Upload Failed"));
        QCOMPARE(highlightOf(bar(row)), QColor(ok ? Qt::green : Qt::red));
        QVERIFY2(bar(row)->toolTip().contains(reasons[row]), qPrintable(bar(row)->toolTip()));
    }
    QCOMPARE(bar(0)->value(), 10);
    QCOMPARE(table()->item(0, 2)->text(), QString("1.2.0"));
    QCOMPARE(table()->item(1, 2)->text(), QString("1.0.0"));
    QCOMPARE(m_boxes->boxes.size(), 2);
    QCOMPARE(m_boxes->boxes[1].title, QString("Warning"));
    QCOMPARE(m_boxes->boxes[1].text, kSummary);
    const QString &details = m_boxes->boxes[1].informative;
    QVERIFY2(details.startsWith("Update finished: 3 updated, 0 skipped as current, 3 failed.") &&
                 details.contains("2.0.0.8 (Silent): The fixture did not answer"),
             qPrintable(details));
    QList<int> selected;
    for (const QModelIndex &index : table()->selectionModel()->selectedRows())
        selected << index.row();
    std::sort(selected.begin(), selected.end());
    QCOMPARE(selected, QList<int>({1, 3, 4}));

    // The details view shows the reason and all the child printed, and
    // leaves the selection as it was.
    table()->scrollToTop();
    const QPoint cell = table()->visualItemRect(table()->item(1, 0)).center();
    QTest::mousePress(table()->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(table()->viewport(), Qt::LeftButton, {}, cell);
    QCOMPARE(table()->selectionModel()->selectedRows().size(), 3);
    QVERIFY(table()->selectionModel()->isRowSelected(1));
    QMessageBox *details1 = m_window->findChild<QMessageBox *>();
    QVERIFY(details1 && details1->isVisible());
    QVERIFY(details1->text().contains("no reply to block 3"));
    QVERIFY(details1->detailedText().contains("Error: Firmware upload failed."));
}

void TestMainWindow::stopAfterThisFixtureAndBarsOutsideTheRun()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B, left", "1.0.0") +
                         fixtureBlock("2.0.0.7", "C", "1.0.0"),
                     3));
    QVERIFY(!widget<QPushButton>("saveReportButton")->isEnabled());
    writeScript("upload.txt", {"out    blockCount=3\\n    progress=F ", "sleep 400",
                               "out - LG\\n# Firmware uploaded successfully\\n" + kConfirmed});
    prepareUpload();
    bool tableLive = false;
    QTimer::singleShot(200, m_window, [&] {
        tableLive = table()->isEnabled() && !widget<QPushButton>("runButton")->isEnabled();
        click("stopButton");
    });
    click("runButton");
    QVERIFY(tableLive);
    QCOMPARE(startedArguments().size(), 2);
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    for (int row : {1, 2}) {
        QCOMPARE(bar(row)->format(), QString("Not Started"));
        QVERIFY(bar(row)->toolTip().startsWith("Not started: the run was stopped."));
    }
    QCOMPARE(status(), QString("Update finished: 1 updated, 0 skipped as current, 0 failed, 2 not started."));

    // Rows outside the next run, and a discovery, keep their result.
    table()->clearSelection();
    clickRow(1);
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    click("runButton");
    QCOMPARE(bar(1)->format(), QString("Upload Successful"));
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    QCOMPARE(bar(2)->format(), QString("Not Started"));
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.2.0"), 3));
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));

    // The session's report as CSV, every run of it, under a name with the date.
    const QString path = QDir::current().absoluteFilePath("report.csv");
    QString offered;
    m_boxes->fileDialog = [&](QFileDialog *dialog) { offered = dialog->selectedFiles().value(0), pickFile(dialog, path); };
    click("saveReportButton");
    QVERIFY(offered.endsWith("update-report-" + QDate::currentDate().toString(Qt::ISODate) + ".csv"));
    QFile csv(path);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QString run = ",T,Spot firmware,1.2.0,127.0.0.1,S,";
    QCOMPARE(QString::fromUtf8(csv.readAll()).replace(QRegularExpression("[-0-9]+T[0-9:]+"), "T")
                 .replace(QRegularExpression(",[0-9]+\\.[0-9](?=,|\n)"), ",S"),
             "run,started,image,image version,interface,run seconds,name,address,version before,version after,result,"
             "reason,retries,seconds,fixture image,fixture image version\n1" + run + "A,2.0.0.5,1.0.0,1.2.0,updated,,0,S,,\n1" + run +
             "\"B, left\",2.0.0.6,1.0.0,,not updated,Not started: the run was stopped. Nothing was sent to the fixture.,0,S,,\n"
             "1" + run + "C,2.0.0.7,1.0.0,,not updated,Not started: the run was stopped. Nothing was sent to the fixture.,0,S,,\n"
             "2" + run + "\"B, left\",2.0.0.6,1.0.0,1.2.0,updated,,0,S,,\n");
}

// With the box ticked (and remembered), one lumiload updates the fixtures
// at once; each row follows its own fixture's lines and shows the version
// the fixture reported after its restart.
void TestMainWindow::parallelRunFollowsEachFixture()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0"), 2));
    writeScript("upload.txt",
                {"out 2.0.0.5 upload started, blockCount=3\\n2.0.0.6 upload started, blockCount=3\\n"
                 "2.0.0.5 block 1 of 3 accepted\\n2.0.0.6 block 1 of 3 accepted\\n2.0.0.6 block 2 of 3 accepted\\n",
                 "sleep 200",
                 "out 2.0.0.6 block 3 of 3 accepted\\n2.0.0.6 uploaded\\n2.0.0.6 waiting for the fixture to restart\\n"
                 "2.0.0.5 failed: no reply to block 2 of 3 after 3 attempts\\n",
                 "sleep 200", "out 2.0.0.6 confirmed: the fixture reports version 1.2.0\\n", "sleep 100", "exit 1"});
    widget<QCheckBox>("parallelCheckBox")->click();
    prepareUpload();
    BarWatcher b(bar(1));
    QStringList statuses;
    QTimer statusWatch;
    connect(&statusWatch, &QTimer::timeout, [&] { statuses << status(); });
    statusWatch.start(20);
    click("runButton");
    QVERIFY(startedArguments().last().endsWith("[-m][-s ][127.0.0.1][-p][2][-c][-u][2.0.0.5,2.0.0.6][-S]"));
    QVERIFY(!statuses.filter("in parallel: 2 done").isEmpty());   // counted as the table shows them
    QVERIFY2(b.states.contains("2/3 %p%") && b.states.contains("3/3 Waiting for restart"), qPrintable(b.states.join('|')));
    QCOMPARE(bar(1)->format(), QString("Upload Successful"));
    QCOMPARE(table()->item(1, 2)->text(), QString("1.2.0"));
    QCOMPARE(bar(0)->format(), QString("Upload Failed"));
    QVERIFY(bar(0)->toolTip().startsWith("The fixture stopped answering: no reply to block 2 of 3 after three attempts. The fixture accepted 1 of 3"));
    delete m_window;
    m_window = new MainWindow;
    QVERIFY(widget<QCheckBox>("parallelCheckBox")->isChecked());
}

// The stop of a parallel run is a line to its lumiload, which finishes the
// fixture in flight and starts no other; those are reported as one by one.
void TestMainWindow::parallelRunStopsAfterTheFixturesInFlight()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0") +
                         fixtureBlock("2.0.0.7", "C", "1.0.0"), 3));
    writeScript("upload.txt",
                {"out 2.0.0.5 upload started, blockCount=3\\n2.0.0.5 block 1 of 3 accepted\\n", "wait-stop 5000",
                 "out 2.0.0.5 block 2 of 3 accepted\\n2.0.0.5 block 3 of 3 accepted\\n2.0.0.5 uploaded\\n"
                 "2.0.0.5 waiting for the fixture to restart\\n2.0.0.5 confirmed: the fixture reports version 1.2.0\\n"
                 "2.0.0.6 not started: the run was stopped (-S)\\n2.0.0.7 not started: the run was stopped (-S)\\n",
                 "exit 1"});
    widget<QCheckBox>("parallelCheckBox")->click();
    prepareUpload();
    QString button;
    QTimer::singleShot(300, m_window, [&] {
        button = widget<QPushButton>("stopButton")->isVisible() ? widget<QPushButton>("stopButton")->text() : "";
        click("stopButton");
        button += " | " + status();
    });
    click("runButton");
    QVERIFY2(button.startsWith("Stop after the fixtures in flight | Updating 3 fixtures in parallel: 0 done") &&
                 button.endsWith("; stopping: no more fixtures start"), qPrintable(button));
    QFile log("calls.log");
    QVERIFY(log.open(QIODevice::ReadOnly) && log.readAll().contains("\nstop "));
    QCOMPARE(bar(0)->format(), QString("Upload Successful"));
    for (int row : {1, 2}) {
        QCOMPARE(bar(row)->format(), QString("Not Started"));
        QCOMPARE(bar(row)->toolTip(), QString("Not started: the run was stopped. Nothing was sent to the fixture."));
    }
    QCOMPARE(status(), QString("Update finished: 1 updated, 0 skipped as current, 0 failed, 2 not started."));
}

// A damaged file is refused with the reason; a good one shows its name and
// version, is remembered, and marks the fixtures it does not fit, which no
// run then touches.
void TestMainWindow::browseChecksTheImage()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "Spot", "1.0.0") + fixtureBlock("2.0.0.6", "Wash", "1.0.0", "0x0202"), 2));
    QVERIFY(QDir().mkpath("images"));
    const QString good = makeAlf("images/fw.alf", 2, 23);
    QFile damaged("images/bad.alf");
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(1062, '\x01'));
    damaged.close();
    QString startDirectory;
    for (const QString &path : {QFileInfo(damaged).absoluteFilePath(), good}) {
        m_boxes->fileDialog = [&](QFileDialog *dialog) {
            startDirectory = dialog->directory().absolutePath();
            pickFile(dialog, path);
        };
        click("browseButton");
    }
    QCOMPARE(m_boxes->boxes.size(), 1);
    QVERIFY(m_boxes->boxes[0].text.startsWith("This file cannot be used: The file's length does not agree"));
    QCOMPARE(widget<QLineEdit>("filePathEdit")->text(), good);
    QCOMPARE(widget<QLabel>("versionLabel")->text(), QString("Target Version: v2.2.3"));
    QCOMPARE(widget<QLabel>("imageLabel")->text(), QString("Image: Spot firmware, 2 blocks"));
    const QString images = QFileInfo(good).absolutePath();
    QCOMPARE(QSettings("YourCompanyName", "YourAppName").value("lastDirectory").toString(), images);
    QCOMPARE(bar(0)->format(), QString("%p%"));
    QCOMPARE(bar(1)->format(), QString("Does Not Fit"));
    QVERIFY(bar(1)->toolTip().contains("OEM code 0x0202"));

    writeScript("upload.txt", {kSuccess});
    click("selectAllButton");
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    click("runButton");
    QVERIFY(m_boxes->boxes[1].informative.endsWith("\n1 fixture does not fit this image and is skipped."));
    QCOMPARE(status(), QString("Update finished: 1 updated, 0 skipped as current, 0 failed, 1 not fitting the image."));
    QCOMPARE(startedArguments().size(), 2);
    QVERIFY(startedArguments()[1].endsWith("[-d][2.0.0.5]"));

    // A new window starts the dialog in the remembered directory.
    delete m_window;
    m_window = new MainWindow;
    m_window->show();
    m_boxes->fileDialog = [&](QFileDialog *dialog) {
        startDirectory = dialog->directory().absolutePath();
        dialog->reject();
    };
    click("browseButton");
    QCOMPARE(startDirectory, images);
}

// A folder: its images and the files left out under the version, a
// discovery that is a test run printing lumiload's plan, which fills the
// Image column and marks the fixtures without an image or with a conflict;
// the confirmation is the plan. The test group stops a run one by one when
// its fixture fails, and is -n in parallel; the summary and the report
// name each fixture's image.
void TestMainWindow::firmwareFolderIsPlannedAndConfirmed()
{
    QVERIFY(QDir().mkpath("rig"));
    makeAlf("rig/spot.alf", 1, 20);
    makeAlf("rig/wash.alf", 2, 0, 0x0202);
    QFile damaged("rig/bad.alf");
    QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(QByteArray(1062, '\x01')) == 1062);
    damaged.close();
    const QString folder = QFileInfo("rig").absoluteFilePath();
    m_boxes->fileDialog = [&](QFileDialog *dialog) { pickFile(dialog, folder); };
    click("browseFolderButton");
    QCOMPARE(widget<QLineEdit>("filePathEdit")->text(), folder);
    QCOMPARE(widget<QLabel>("imageLabel")->text(), QString("Library: 2 images for 2 models (0x0101 Spot firmware 1.2.0, "
                                                           "0x0202 Wash firmware 2.0.0); 1 file left out (bad.alf)"));

    const QStringList plan = {"2.0.0.5 \"A\" 1.0.0: update spot.alf 1.2.0", "2.0.0.6 \"B\" 1.0.0: update wash.alf 2.0.0",
                              "2.0.0.7 \"C\" 1.0.0: no-image - no image fits maker 0x4d2a, OEM 0x0303",
                              "2.0.0.8 \"D\" 1.0.0: conflict - different images of version 1.0.3 fit OEM 0x0404: x.alf, y.alf",
                              "2.0.0.9 \"E\" 1.2.0: current spot.alf 1.2.0"};
    writeScript("discover.txt", {"err     Error: ALF file length does not agree with its header\\n",
                                 "out # Firmware library rig: 2 images, 1 file left out\\n",
                                 "out " + escaped(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0", "0x0202") +
                                                  fixtureBlock("2.0.0.7", "C", "1.0.0", "0x0303") +
                                                  fixtureBlock("2.0.0.8", "D", "1.0.0", "0x0404") +
                                                  fixtureBlock("2.0.0.9", "E", "1.2.0") + "# Plan: 5 fixtures\r\n    " +
                                                  plan.join("\r\n    ") + "\r\n# Plan counts: update=2\r\n"),
                                 "exit 1"});
    click("runButton");
    waitDiscoveryEnd();
    QCOMPARE(startedArguments(), QStringList{"[-i][-l][" + folder + "][-m][-t][-s ][127.0.0.1]"});
    QVERIFY(m_boxes->boxes.isEmpty());   // a file left out fails no discovery
    const QStringList images = {"spot.alf 1.2.0", "wash.alf 2.0.0", "No image", "Conflict", "spot.alf 1.2.0"};
    const QStringList bars = {"%p%", "%p%", "Does Not Fit", "Image Conflict", "%p%"};
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(table()->item(row, 5)->text(), images[row]);
        QCOMPARE(bar(row)->format(), bars[row]);
    }
    QVERIFY(bar(3)->toolTip().startsWith("Image conflict: different images of version 1.0.3 fit OEM 0x0404"));

    widget<QSpinBox>("testGroupSpinBox")->setValue(1);
    writeScript("script-2.0.0.5.txt", {"exit 1"});
    click("selectAllButton");
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    m_boxes->answers = {QMessageBox::Cancel};
    click("runButton");
    QCOMPARE(m_boxes->boxes.size(), 1);
    QCOMPARE(m_boxes->boxes[0].text, QString("Update 2 fixtures from the firmware folder?"));
    QCOMPARE(m_boxes->boxes[0].informative,
             QString::fromUtf8("Plan: 2 update, 1 current, 1 no image, 1 conflict\nBy model:\n"
                               "    OEM 0x0101, spot.alf 1.2.0: 1 update, 1 current\n    OEM 0x0202, wash.alf 2.0.0: 1 update\n"
                               "    OEM 0x0303: 1 no image\n    OEM 0x0404: 1 conflict\n"
                               "First 1 as a test: A (2.0.0.5). They are updated and confirmed first; if one of them "
                               "fails, no other fixture starts.\nTo update (2):\n"
                               "    A (2.0.0.5): 1.0.0 \u2192 1.2.0 (spot.alf)\n    B (2.0.0.6): 1.0.0 \u2192 2.0.0 (wash.alf)\n"
                               "1 fixture already runs the version of its image and is skipped.\n"
                               "1 fixture has no image in the folder and is skipped.\n"
                               "1 fixture has an image conflict and is skipped."));
    click("runButton");
    const QString common = "[-i][-l][" + folder + "][-m][-s ][127.0.0.1]";
    QCOMPARE(startedArguments().mid(1), QStringList{common + "[-c][-d][2.0.0.5]"});
    QCOMPARE(bar(0)->format(), QString("Upload Failed"));
    QCOMPARE(bar(1)->toolTip(), QString("Not started: 1 of the first 1 fixture, the test group, failed. Nothing was "
                                        "sent to the fixture."));

    writeScript("discover.txt",
                {"out 2.0.0.5 upload started, blockCount=3, image=spot.alf\\n2.0.0.6 upload started, blockCount=3, "
                 "image=wash.alf\\n2.0.0.6 failed: no reply to block 1 of 3 after 3 attempts\\n2.0.0.5 block 1 of 3 "
                 "accepted\\n2.0.0.5 block 2 of 3 accepted\\n2.0.0.5 block 3 of 3 accepted\\n2.0.0.5 uploaded\\n"
                 "2.0.0.5 confirmed: the fixture reports version 1.2.0\\n", "exit 1"});
    widget<QCheckBox>("parallelCheckBox")->click();
    table()->clearSelection();
    click("selectAllButton");
    widget<QCheckBox>("fileUpdateCheckBox")->click();
    click("runButton");
    QCOMPARE(startedArguments().last(), common + "[-p][2][-c][-n][1][-u][2.0.0.5,2.0.0.6][-S]");
    QCOMPARE(bar(0)->maximum(), 3);   // its events name its image
    QVERIFY2(m_boxes->boxes.last().informative.contains("\n2.0.0.6 (B, wash.alf): The fixture stopped answering"),
             qPrintable(m_boxes->boxes.last().informative));
    const QString path = QDir::current().absoluteFilePath("report.csv");
    m_boxes->fileDialog = [&](QFileDialog *dialog) { pickFile(dialog, path); };
    click("saveReportButton");
    QFile csv(path);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(csv.readAll()).split('\n').filter(",firmware folder rig,,");
    QCOMPARE(rows.size(), 10);
    QVERIFY2(rows[5].contains(",A,2.0.0.5,1.0.0,1.2.0,updated,") && rows[5].endsWith(",spot.alf,1.2.0"), qPrintable(rows[5]));
    QVERIFY2(rows[7].contains(",C,2.0.0.7,") && rows[7].endsWith(",,"), qPrintable(rows[7]));
}

// Refused while an upload runs, with a notice that lets the run go on;
// at other times it stops a running discovery.
void TestMainWindow::closing()
{
    QVERIFY(discover(fixtureBlock("2.0.0.5", "A", "1.0.0") + fixtureBlock("2.0.0.6", "B", "1.0.0"), 2));
    writeScript("upload.txt", {"out    blockCount=10\\n    progress=F - ", "sleep 600",
                               "out - - - - - - - - LG\\n# Firmware uploaded successfully\\n" + kConfirmed});
    prepareUpload();
    QPointer<QMessageBox> notice;   // when the window refused to close
    QTimer::singleShot(300, m_window, [&] { notice = m_window->close() ? nullptr : m_window->findChild<QMessageBox *>(); });
    click("runButton");

    QVERIFY(notice && notice->text().contains("upload is in progress"));
    QCOMPARE(bar(1)->format(), QString("Upload Successful"));   // the run went on meanwhile
    QTRY_VERIFY(!notice);   // gone with the run

    writeScript("discover.txt", {"out " + escaped(fixtureBlock("2.0.0.7", "C", "1.0.0")), "sleep 20000"});
    click("runButton");
    QTRY_COMPARE(table()->rowCount(), 3);
    QFile log("calls.log");
    QVERIFY(log.open(QIODevice::ReadOnly));
    const pid_t pid = pid_t(QString::fromUtf8(log.readAll()).split('\n').filter("start").last().section(' ', 1, 1).toLongLong());
    QVERIFY(pid > 0 && ::kill(pid, 0) == 0);
    QVERIFY(m_window->close());
    QVERIFY(::kill(pid, 0) != 0);
}

// The box's frame must stand out from the dark window around it.
void TestMainWindow::checkBoxFramesAreVisible()
{
    QCheckBox *box = widget<QCheckBox>("fileUpdateCheckBox");
    const QImage image = box->grab().toImage();
    const QColor window = m_window->palette().color(QPalette::Window);
    int brightest = 0;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            brightest = qMax(brightest, QColor(image.pixel(x, y)).lightness());
    QVERIFY2(brightest - window.lightness() > 40, qPrintable(QString::number(brightest)));
}

// Tooltips and disabled controls readable; at the first size the table
// shows eight rows, at the least size every caption keeps its room; the
// size the operator chose is the next window's.
void TestMainWindow::readableAtEverySizeAndRemembered()
{
    const QPalette palette = QApplication::palette();
    QVERIFY(qAbs(palette.color(QPalette::ToolTipBase).lightness() - palette.color(QPalette::ToolTipText).lightness()) > 128);
    QVERIFY(palette.color(QPalette::Disabled, QPalette::ButtonText).lightness() <
            palette.color(QPalette::Active, QPalette::ButtonText).lightness() - 64);
    QString report;
    for (int i = 0; i < 10; ++i)
        report += fixtureBlock(QString("2.0.0.%1").arg(10 + i), "Fixture", "1.0.0");
    QVERIFY(discover(report, 10));
    QCOMPARE(m_window->size(), QSize(700, 480));
    QVERIFY(table()->viewport()->height() >= 8 * table()->rowHeight(0));
    m_window->resize(m_window->minimumSize());
    QTest::qWait(50);
    for (QWidget *w : m_window->findChildren<QWidget *>())
        if (w->isVisible() && (qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)))
            QVERIFY2(w->width() >= w->minimumSizeHint().width() && w->height() >= w->minimumSizeHint().height(),
                     qPrintable(w->objectName()));
    QVERIFY(table()->viewport()->height() >= 2 * table()->rowHeight(0));
    m_window->resize(820, 600);
    table()->setColumnWidth(1, 150);
    QVERIFY(m_window->close());
    delete m_window;
    m_window = new MainWindow;
    QCOMPARE(m_window->size(), QSize(820, 600));
    QVERIFY(m_window->close());   // a session without a discovery forgets nothing
    delete m_window;
    m_window = new MainWindow;
    QVERIFY(discover(report, 10));
    QCOMPARE(table()->columnWidth(1), 150);
}

// Outcomes are data: every reason reworded, the bars and the summary's
// counts stay as they were.
void TestMainWindow::rewordedReasonsChangeNoStateOrCount()
{
    const QList<QPair<FixtureState, QString>> outcomes = {
        {FixtureState::Updated, ""}, {FixtureState::Confirmed, ""},
        {FixtureState::SkippedAsCurrent, "Skipped: it already runs v1.2.0"},
        {FixtureState::DoesNotFit, "Skipped: the image does not fit it"},
        {FixtureState::Failed, "The fixture did not answer"}, {FixtureState::NotStarted, "Not started: stopped."},
        {FixtureState::ImageConflict, "Skipped: image conflict"}};
    FixtureTable rows(nullptr);
    QList<FixtureResult> results;
    for (const auto &[outcome, reason] : outcomes) {
        const QString ip = QString("2.0.0.%1").arg(results.size() + 1);
        rows.addFixtures({{"F", ip, "1.0.0"}});
        results.append({ip, "F", "1.0.0", "1.2.0", outcome, reason, false, 0, {}, 0, {}, {}});
    }
    const auto looks = [&] {
        QStringList shown{summaryLine(results)};
        for (int row = 0; row < results.size(); ++row) {
            rows.showResult(row, results[row]);
            shown << rows.barAt(row)->format() + " " + highlightOf(rows.barAt(row)).name();
        }
        return shown;
    };
    const QStringList before = looks();
    // A discovery greys only the missing fixtures it was the one to find.
    rows.markSeen({"2.0.0.1", "2.0.0.2"}, "2.0.0.100");
    rows.markSeen({}, "10.0.0.1");
    rows.markSeen({"2.0.0.2"}, "2.0.0.100");
    QCOMPARE(QList<bool>({rows.seenAt(0), rows.seenAt(1), rows.seenAt(2)}), QList<bool>({false, true, true}));
    QCOMPARE(before.first(), QString("Update finished: 2 updated, 1 skipped as current, 1 failed, "
                                     "1 not fitting the image, 1 with an image conflict, 1 not started."));
    for (FixtureResult &result : results)
        result.reason = result.reason.isEmpty() ? QString() : "Reworded: " + result.reason.toUpper();
    QCOMPARE(looks(), before);
}

int main(int argc, char **argv)
{
    // Settings of this run stay in a scratch directory.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    applyDeskStyle();  // the real look: the check boxes must stand out on it
    // Closing a test's window must not end the application's event loops.
    QApplication::setQuitOnLastWindowClosed(false);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_MainWindow.moc"
