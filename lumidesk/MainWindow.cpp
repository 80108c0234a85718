#include "MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QCoreApplication>
#include <QSettings>
#include <QSysInfo>
#include <QSpinBox>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "DiscoveryJob.h"
#include "InterfaceChoice.h"
#include "MessageBoxes.h"
#include "UploadRun.h"

#include <algorithm>

// lumiload in the working directory, else beside the window's own program
// (started from another folder, e.g. by a desktop entry); `lookedIn` names
// both places when it is in neither.
QString findUpdater(const QString &workingDirectory, const QString &programDirectory, QString *lookedIn)
{
    const QString name = QSysInfo::productType() == "windows" ? "lumiload.exe" : "lumiload";
    for (const QString &directory : {workingDirectory, programDirectory})
        if (QFileInfo(QDir(directory).filePath(name)).isExecutable())
            return directory == workingDirectory ? "./lumiload" : QDir(directory).filePath("lumiload");
    *lookedIn = QString("%1 was found neither in the working directory (%2) nor beside lumidesk (%3).")
                    .arg(name, QDir::toNativeSeparators(workingDirectory), QDir::toNativeSeparators(programDirectory));
    return "./lumiload";
}

QString MainWindow::updaterProgram(QString *lookedIn) const
{
    return findUpdater(QDir::currentPath(), QCoreApplication::applicationDirPath(), lookedIn);
}
// Transfers a parallel run keeps in flight at most.
static const int kMaxTransfersInFlight = 64;
static const char kFailureSummary[] =
    "Some devices failed to update. Please check the table for details.";

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), discovery(new DiscoveryJob(this)), process(discovery->process()), anyFailed(false)
{
    setWindowIcon(QIcon("icons/logo.ico"));
    lastDirectory = storedSetting("lastDirectory").toString();

    QWidget *centralWidget = new QWidget(this);
    QVBoxLayout *mainLayout = new QVBoxLayout(centralWidget);
    mainLayout->setContentsMargins(8, 4, 8, 4);
    mainLayout->setSpacing(4);
    setMinimumSize(700, 300);
    resize(700, 480);
    setWindowTitle("Orvane Ethernet Updater 1.1");

    buildHeading(mainLayout);
    buildInterfaceRow(mainLayout);
    buildFileRow(mainLayout);
    buildOptionsRow(mainLayout);
    buildTable(mainLayout);
    buildButtonRow(mainLayout);
    setCentralWidget(centralWidget);
    buildStatusBar();
    buildNetworkTools();
    // Never so small that captions overprint or the table shows no row.
    setMinimumSize(minimumSize().expandedTo(minimumSizeHint()));
    if (const QSize size = storedSetting("windowSize").toSize(); size.isValid())
        resize(size);
    QList<int> widths;
    for (const QVariant &width : storedSetting("columnWidths").toList())
        widths << width.toInt();
    deviceTable->setColumnWidths(widths);

    connect(discovery, &DiscoveryJob::fixturesFound, this, &MainWindow::addFixtures);
    connect(discovery, &DiscoveryJob::fixturesPlanned, deviceTable, &FixtureTable::showPlan);
    connect(discovery, &DiscoveryJob::finished, this, &MainWindow::discoveryFinished);
}

// A discovery only listens; stopping it leaves no child behind. Upload
// processes have all ended by now (closing is refused during a run).
MainWindow::~MainWindow()
{
    discovery->stop();
}

QVariant MainWindow::storedSetting(const QString &key)
{
    return QSettings("YourCompanyName", "YourAppName").value(key);
}

void MainWindow::storeSetting(const QString &key, const QVariant &value)
{
    QSettings("YourCompanyName", "YourAppName").setValue(key, value);
}

// The refusal is a notice that does not hold the run up.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (uploadRunning) {
        event->ignore();
        closeNotice = showNotice(this, QMessageBox::Warning, "Warning",
                   "A firmware upload is in progress. Please wait until it "
                   "has finished before closing the window.");
        return;
    }
    discovery->stop();
    endNetworkTools();
    storeSetting("windowSize", size());
    // An empty table's columns were never fitted or set: the widths
    // remembered from an earlier session stay.
    QVariantList widths;
    for (int width : deviceTable->columnWidths())
        widths << width;
    if (deviceTable->rowCount() > 0)
        storeSetting("columnWidths", widths);
    event->accept();
}

void MainWindow::loadNetworkInterfaces()
{
    for (const InterfaceEntry &entry : upIPv4Interfaces())
        nicComboBox->addItem(entry.label, entry.address);
}

void MainWindow::selectPreferredInterface()
{
    QList<InterfaceEntry> entries;
    for (int i = 0; i < nicComboBox->count(); ++i)
        entries.append({nicComboBox->itemText(i), nicComboBox->itemData(i).toString()});
    const QString last = storedSetting("lastInterface").toString();
    const int choice = preferredInterface(entries, last);
    if (choice >= 0)
        nicComboBox->setCurrentIndex(choice);
}

UploadLimits MainWindow::limits() const
{
    UploadLimits limits;
    limits.retries = retriesSpinBox->value();
    limits.restartWait = restartWaitSpinBox->value() == kDefaultRestartWait ? 0 : restartWaitSpinBox->value();
    limits.failureLimit = failureLimitSpinBox->value();
    return limits;
}

QString MainWindow::interfaceAddress() const
{
    return nicComboBox->currentData().toString();
}

void MainWindow::refreshNICs()
{
    nicComboBox->clear();
    loadNetworkInterfaces();
    selectPreferredInterface();
}

// A file is taken only when it passes the checks lumiload makes.
void MainWindow::browseFile()
{
    const QString initialDirectory =
        QDir(lastDirectory).exists()
            ? lastDirectory
            : QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString fileName =
        QFileDialog::getOpenFileName(this, tr("Open Firmware File"), initialDirectory,
                                     tr("Firmware Files (*.alf);;All Files (*)"));
    if (fileName.isEmpty())
        return;
    FirmwareImage chosen;
    QString problem;
    if (!readFirmwareImage(fileName, &chosen, &problem)) {
        showBox(this, QMessageBox::Warning, "Error", "This file cannot be used: " + problem);
        return;
    }

    lastDirectory = QFileInfo(fileName).absolutePath();
    storeSetting("lastDirectory", lastDirectory);
    filePathEdit->setText(fileName);
    updateCommandParameters();
}

// A folder of images, one per model: taken only when it holds at least one
// usable image; the files left out are named under the version.
void MainWindow::browseFolder()
{
    const QString initialDirectory =
        QDir(lastDirectory).exists()
            ? lastDirectory
            : QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Open Firmware Folder"), initialDirectory);
    if (folder.isEmpty())
        return;
    FirmwareLibrary chosen;
    QString problem;
    if (!readFirmwareLibrary(folder, &chosen, &problem)) {
        showBox(this, QMessageBox::Warning, "Error", "This folder cannot be used: " + problem);
        return;
    }
    lastDirectory = folder;
    storeSetting("lastDirectory", lastDirectory);
    filePathEdit->setText(folder);
    updateCommandParameters();
}

bool MainWindow::libraryChosen() const
{
    return !filePathEdit->text().isEmpty() && QFileInfo(filePathEdit->text()).isDir();
}

// Shows the version of the image at the shown path as lumiload and the
// fixtures show versions, and the image's name.
void MainWindow::getVersion()
{
    const QString filePath = filePathEdit->text();
    if (libraryChosen()) {
        versionLabel->setText("Target Version: the newest image of each model");
        QString problem;
        checkImage(&problem);
        return;
    }
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "Failed to open file: " << filePath;
        return;
    }
    file.seek(2);
    const QByteArray versionData = file.read(2);
    if (versionData.size() < 2) {
        qDebug() << "Failed to read version data from file.";
        return;
    }
    const quint16 version = quint16(quint8(versionData[0]) << 8 | quint8(versionData[1]));
    qDebug() << "Decoded Firmware Version: v" << versionText(version);
    versionLabel->setText("Target Version: v" + versionText(version));
    QString problem;
    checkImage(&problem);
}

bool MainWindow::checkImage(QString *problem)
{
    deviceTable->setLibraryMode(libraryChosen());
    if (libraryChosen()) {
        imageOk = false;
        libraryOk = readFirmwareLibrary(filePathEdit->text(), &library, problem);
        imageLabel->setText(libraryOk ? libraryText(library) : "Library: " + *problem);
        imageLabel->setToolTip(library.leftOut.join('\n'));
        if (!libraryOk || library.folder != plannedLibrary.folder || !library.sameImages(plannedLibrary))
            deviceTable->clearPlans();
        deviceTable->markImageFit(nullptr);
        deviceTable->markPlannedImages();
        return libraryOk;
    }
    imageLabel->setToolTip(QString());
    imageOk = readFirmwareImage(filePathEdit->text(), &image, problem);
    imageLabel->setText(imageOk ? QString("Image: %1, %2 blocks").arg(image.name).arg(image.blockCount())
                                : "Image: " + *problem);
    deviceTable->markImageFit(imageOk ? &image : nullptr);
    return imageOk;
}

void MainWindow::addDeviceToTable(const QString &name, const QString &ip, const QString &version)
{
    addFixtures({{name, ip, version}});
}

void MainWindow::addFixtures(const QList<DiscoveredFixture> &fixtures)
{
    if (deviceTable->addFixtures(fixtures) > 0)
        selectAllButton->show();
    deviceTable->markImageFit(imageOk ? &image : nullptr);
    deviceTable->markPlannedImages();
}

void MainWindow::selectAllCells(int)
{
    deviceTable->toggleSelectAll();
}

void MainWindow::selectAllDevices()
{
    selectAllCells(0);
}

// Shows the fixtures whose first address number matches the interface's.
void MainWindow::updateDeviceTableBasedOnNIC(int)
{
    deviceTable->clearSelection();
    const QString selectedIPHeader = interfaceAddress().section('.', 0, 0);
    selectAllButton->setVisible(deviceTable->showOnlyFirstNumber(selectedIPHeader));
}

void MainWindow::updateCommandParameters()
{
    currentArguments.clear();
    // With a folder every run takes it: a discovery is a test run (-t) that
    // prints lumiload's plan, the image each fixture gets, and sends no
    // firmware.
    if (libraryChosen())
        currentArguments << "-i" << "-l" << filePathEdit->text() << "-m"
                         << (fileUpdateCheckBox->isChecked() ? QStringList() : QStringList{"-t"});
    else if (fileUpdateCheckBox->isChecked() && !filePathEdit->text().isEmpty())
        currentArguments << "-i" << "-f" << filePathEdit->text() << "-m";
    currentArguments << "-s " << interfaceAddress();
    runButton->setText(fileUpdateCheckBox->isChecked() ? "Upload to Fixtures"
                                                       : "Discover Fixtures");
}

void MainWindow::runCommand()
{
    updateCommandParameters();
    resetProgressBars();
    anyFailed = false;
    if (!fileUpdateCheckBox->isChecked())
        startDiscovery();
    else if (filePathEdit->text().isEmpty())
        showBox(this, QMessageBox::Warning, "Error", "Choose a firmware file with Browse first: there is nothing to upload.");
    else
        runUploads();
}

// A discovery listens for about three seconds; its results arrive after
// this returns. No run can start meanwhile: an upload would compare against
// old versions, and lumiload could not bind the port the discovery holds.
void MainWindow::startDiscovery()
{
    if (libraryChosen()) {
        QString problem;
        readFirmwareLibrary(filePathEdit->text(), &plannedLibrary, &problem);
        deviceTable->clearPlans();
    }
    QString lookedIn;
    if (!discovery->start(updaterProgram(&lookedIn), currentArguments, interfaceAddress())) {
        showBox(this, QMessageBox::Critical, "Error", "Failed to start the command.", lookedIn);
        return;
    }
    runButton->setEnabled(false);
    busyIndicator->show();
    statusLabel->setText("Discovering fixtures on " + discovery->interfaceAddress() + "...");
    fileUpdateCheckBox->setChecked(false);
    selectAllButton->setVisible(deviceTable->rowCount() > 0);
}

void MainWindow::readProcessOutput()
{
    discovery->readOutput();
}

void MainWindow::discoveryFinished(const QString &failure)
{
    const QString address = discovery->interfaceAddress();
    runButton->setEnabled(true);
    busyIndicator->hide();
    if (!failure.isEmpty()) {
        statusLabel->setText("Discovery failed on " + address + ": " + failure);
        showBox(this, QMessageBox::Warning, "Error", "The discovery failed: " + failure);
        return;
    }
    const QSet<QString> &seen = discovery->seen();
    deviceTable->markSeen(seen, address);
    if (!seen.isEmpty())
        storeSetting("lastInterface", address);
    statusLabel->setText(seen.isEmpty() ? "No fixture answered on " + address + ": check the interface"
                                        : QString("%1 found on %2").arg(fixtureCount(seen.size()), address));
    if (seen.isEmpty())
        checkAfterEmptyDiscovery(address);
}

// Works out what the run will do, asks the operator, then updates the
// fixtures one after the other while the table stays live.
void MainWindow::runUploads()
{
    QString problem;
    const bool fromLibrary = libraryChosen();
    if (!checkImage(&problem)) {
        showBox(this, QMessageBox::Warning, "Error",
                (fromLibrary ? "The firmware folder cannot be used: " : "The firmware file cannot be used: ") + problem);
        return;
    }
    if (fromLibrary && (library.folder != plannedLibrary.folder || !library.sameImages(plannedLibrary))) {
        showBox(this, QMessageBox::Warning, "Error",
                "Discover the fixtures again first: the firmware folder is not the one, or does not hold the images, "
                "that the latest discovery planned from.");
        return;
    }
    const QString target = fromLibrary ? QString() : versionText(image.version);
    QList<DiscoveredFixture> selected;
    for (int row : deviceTable->selectedRowNumbers())
        selected.append(deviceTable->fixtureAt(row));
    if (selected.isEmpty()) {
        showBox(this, QMessageBox::Warning, "Error", "Select the fixtures to update first: no fixture is selected.");
        return;
    }
    QHash<QString, PlannedImage> planned;
    for (int row = 0; row < deviceTable->rowCount(); ++row)
        if (PlannedImage image; deviceTable->plannedAt(row, &image))
            planned.insert(image.ip, image);
    UploadPlan plan = fromLibrary ? planLibraryUploads(selected, planned, forceUpdateCheckBox->isChecked())
                                  : planUploads(selected, image, forceUpdateCheckBox->isChecked());
    if (plan.toUpdate.isEmpty()) {
        QStringList reasons;
        for (const FixtureResult &result : plan.skipped)
            reasons << result.name + " (" + result.ip + "): " + result.reason;
        showBox(this, QMessageBox::Warning, "Error",
                fromLibrary ? "Nothing to update: none of the selected fixtures needs an image of the folder."
                            : "Nothing to update: none of the selected fixtures needs this image.",
                reasons.join('\n'));
        return;
    }
    for (const DiscoveredFixture &fixture : plan.toUpdate)
        if (!deviceTable->seenAt(deviceTable->rowOf(fixture.ip)))
            plan.notSeen.append(fixture);
    plan.testGroup = qMin(testGroupSpinBox->value(), int(plan.toUpdate.size()));
    if (!confirmUpdate(this, plan, target))
        return;
    endLocates();

    QString lookedIn;
    UploadRun run(updaterProgram(&lookedIn), currentArguments, target, this);
    if (parallelCheckBox->isChecked())
        run.setParallel(kMaxTransfersInFlight);
    run.setLimits(limits());
    run.setTestGroup(plan.testGroup);
    QList<int> toUpdate;
    for (const DiscoveredFixture &fixture : plan.toUpdate) {
        const PlannedImage planned = plan.images.value(fixture.ip);
        run.addFixture(fixture.ip, fixture.name, fixture.version, planned.file, planned.version);
        toUpdate.append(deviceTable->rowOf(fixture.ip));
    }
    for (const FixtureResult &result : plan.skipped)
        deviceTable->showResult(deviceTable->rowOf(result.ip), result);
    deviceTable->resetBars(toUpdate);
    connect(&run, &UploadRun::fixtureStarted, this, [this](const QString &ip) {
        deviceTable->scrollToItem(deviceTable->item(deviceTable->rowOf(ip), 0));
    });
    connect(&run, &UploadRun::progressed, this, &MainWindow::updateProgressBar);
    connect(&run, &UploadRun::statusChanged, statusLabel, &QLabel::setText);
    connect(&run, &UploadRun::startFailed, this, [this, lookedIn](const QString &ip) {
        showBox(this, QMessageBox::Warning, "Error", "Failed to start the command for IP: " + ip, lookedIn);
    });
    connect(&run, &UploadRun::fixtureEnded, this, &MainWindow::fixtureEnded);

    RunRecord record{QDateTime::currentDateTime(),
                     fromLibrary ? "firmware folder " + QFileInfo(library.folder).fileName() : image.name, target,
                     interfaceAddress(), 0, {}};
    currentRun = &run;
    uploadRunning = true;
    setControlsEnabled(false);
    run.run();
    setControlsEnabled(true);
    uploadRunning = false;
    currentRun = nullptr;
    if (closeNotice)
        closeNotice->close();   // it spoke of the run that has ended
    lastResults = run.results() + plan.skipped;
    record.seconds = record.started.msecsTo(QDateTime::currentDateTime()) / 1000.0;
    record.results = lastResults;
    sessionRuns.append(record);
    fileUpdateCheckBox->setChecked(false);
    forceUpdateCheckBox->setChecked(false);
    selectAllButton->setVisible(deviceTable->rowCount() > 0);
    summariseRun();
}

// During a run only the controls rest; the table scrolls and shows details.
void MainWindow::setControlsEnabled(bool enabled)
{
    for (QWidget *control : std::initializer_list<QWidget *>{
             nicComboBox, refreshButton, browseButton, browseFolderButton, forceUpdateCheckBox, fileUpdateCheckBox,
             selectAllButton, saveReportButton, runButton, parallelCheckBox, runSettingsButton, testGroupSpinBox})
        control->setEnabled(enabled);
    saveReportButton->setEnabled(enabled && !lastResults.isEmpty());
    stopButton->setEnabled(true);
    stopButton->setText(parallelCheckBox->isChecked() ? "Stop after the fixtures in flight" : "Stop after this fixture");
    stopButton->setVisible(!enabled);
    runSettingsButton->setVisible(!stopButton->isVisible());   // the row has room for one of them
}

void MainWindow::stopAfterThisFixture()
{
    if (!currentRun)
        return;
    stopButton->setEnabled(false);
    currentRun->stopAfterCurrent();   // the status line says it is stopping
}

void MainWindow::resetProgressBars()
{
    totalBlockCountMap.clear();
    blockCountMap.clear();
}

// Where a fixture's upload stands, as its job parsed it.
void MainWindow::updateProgressBar(const QString &ip, const FixtureProgress &progress)
{
    if (!deviceTable->showProgress(ip, progress))
        return;
    totalBlockCountMap.insert(ip, progress.blockCount);
    blockCountMap.insert(ip, progress.blocks);
}

// The fixture succeeded if and only if its child printed the success line
// before it ended; anything else (an error, a crash, no output at all)
// fails it at once, with the reason its child gave.
void MainWindow::fixtureEnded(const QString &ip, const FixtureResult &result)
{
    if (result.outcome == FixtureState::Failed) {
        qDebug() << "Upload failed for IP:" << ip << result.reason;
        anyFailed = true;
    }
    deviceTable->showResult(deviceTable->rowOf(ip), result);
}

// Counts in the status line after every run; failures also in a box that
// names each failed fixture and why, with those of its rows selected that
// the operator can see.
void MainWindow::summariseRun()
{
    const QString summary = summaryLine(lastResults);
    statusLabel->setText(summary);
    saveReportButton->setEnabled(!lastResults.isEmpty());
    // A run with a firmware folder names each fixture's image.
    const bool fromLibrary = std::any_of(lastResults.begin(), lastResults.end(),
                                         [](const FixtureResult &result) { return !result.image.isEmpty(); });
    if (anyFailed) {
        QStringList failed;
        for (const FixtureResult &result : lastResults)
            if (result.outcome == FixtureState::Failed)
                failed << result.ip;
        deviceTable->selectInView(failed);
        showBox(this, QMessageBox::Warning, "Warning", kFailureSummary,
                summary + "\n\n" + failureLines(lastResults, fromLibrary).join('\n'));
    }
}

// Every run of the session as CSV, for the rig's paperwork. Offered in the
// user's Documents: the working folder of an installed window is under
// Program Files, which the user cannot write.
void MainWindow::saveReport()
{
    const QString name = "update-report-" + QDate::currentDate().toString(Qt::ISODate) + ".csv";
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Session Report"), QDir(documents).filePath(name),
                                                      tr("CSV Files (*.csv);;All Files (*)"));
    QString error;
    if (!path.isEmpty() && !writeCsvReport(path, sessionRuns, &error))
        showBox(this, QMessageBox::Warning, "Error", "The report cannot be written: " + error);
}

// What the last run says about this fixture: why it failed, and all its
// child printed.
void MainWindow::showFixtureDetails(int row)
{
    const QString ip = deviceTable->fixtureAt(row).ip;
    for (const FixtureResult &result : lastResults) {
        if (result.ip == ip) {
            showNotice(this, QMessageBox::Information, "Fixture " + ip,
                       result.updated() ? "Updated." : result.reason, result.log);
            return;
        }
    }
}
