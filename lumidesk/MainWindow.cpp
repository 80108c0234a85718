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
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "InterfaceChoice.h"
#include "MessageBoxes.h"
#include "UploadJob.h"

static const char kUpdaterProgram[] = "./lumiload";
// Transfers a parallel run keeps in flight at most.
static const int kMaxTransfersInFlight = 64;
static const char kFailureSummary[] =
    "Some devices failed to update. Please check the chart for details.";

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), process(new QProcess(this)), anyFailed(false),
      discoveryParser(new DiscoveryParser(this))
{
    process->setObjectName("process");
    setWindowIcon(QIcon("icons/logo.ico"));

    QSettings settings("YourCompanyName", "YourAppName");
    lastDirectory = settings.value("lastDirectory").toString();

    QWidget *centralWidget = new QWidget(this);
    QVBoxLayout *mainLayout = new QVBoxLayout(centralWidget);
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

    connect(process, &QProcess::readyReadStandardOutput, this, &MainWindow::readProcessOutput);
    connect(process, &QProcess::readyReadStandardError, this,
            [this]() { discoveryErrors += QString::fromUtf8(process->readAllStandardError()); });
    connect(process, &QProcess::finished, this, &MainWindow::discoveryFinished);
    connect(discoveryParser, &DiscoveryParser::fixturesFound, this, &MainWindow::addFixtures);
}

MainWindow::~MainWindow()
{
    // A discovery only listens; stopping it leaves no child behind. Upload
    // processes have all ended by now (closing is refused during a run).
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(3000);
    }
}

// The refusal is a notice that does not hold the run up.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (uploadRunning) {
        event->ignore();
        showNotice(this, QMessageBox::Warning, "Warning",
                   "A firmware upload is in progress. Please wait until it "
                   "has finished before closing the window.");
        return;
    }
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(3000);
    }
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
    const QString last = QSettings("YourCompanyName", "YourAppName").value("lastInterface").toString();
    const int choice = preferredInterface(entries, last);
    if (choice >= 0)
        nicComboBox->setCurrentIndex(choice);
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
    QSettings settings("YourCompanyName", "YourAppName");
    settings.setValue("lastDirectory", lastDirectory);
    filePathEdit->setText(fileName);
    updateCommandParameters();
}

// Shows the version of the image at the shown path as lumiload and the
// fixtures show versions, and the image's name.
void MainWindow::getVersion()
{
    const QString filePath = filePathEdit->text();
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
    for (const DiscoveredFixture &fixture : fixtures)
        discoverySeen.insert(fixture.ip);
    if (deviceTable->addFixtures(fixtures) > 0)
        selectAllButton->show();
    deviceTable->markImageFit(imageOk ? &image : nullptr);
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
    if (fileUpdateCheckBox->isChecked() && !filePathEdit->text().isEmpty())
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
    QSettings("YourCompanyName", "YourAppName").setValue("lastInterface", interfaceAddress());
    if (fileUpdateCheckBox->isChecked() && !filePathEdit->text().isEmpty())
        runUploads();
    else
        startDiscovery();
}

// A discovery listens for about three seconds; its results arrive after
// this returns. No run can start meanwhile: an upload would compare against
// old versions, and lumiload could not bind the port the discovery holds.
void MainWindow::startDiscovery()
{
    if (process->state() == QProcess::NotRunning) {
        discoveryParser->reset();
        discoveryErrors.clear();
        discoverySeen.clear();
        discoveryInterface = interfaceAddress();
        process->start(kUpdaterProgram, currentArguments);
        qDebug() << "Running process:" << kUpdaterProgram << currentArguments;
    }
    if (!process->waitForStarted(UploadJob::startTimeout())) {
        showBox(this, QMessageBox::Critical, "Error", "Failed to start the command.");
        return;
    }
    runButton->setEnabled(false);
    busyIndicator->show();
    statusLabel->setText("Discovering fixtures on " + discoveryInterface + "...");
    fileUpdateCheckBox->setChecked(false);
    selectAllButton->setVisible(deviceTable->rowCount() > 0);
}

void MainWindow::readProcessOutput()
{
    const QByteArray data = process->readAllStandardOutput();
    qDebug() << "About to parse output:" << QString::fromUtf8(data);
    discoveryParser->feed(data);
}

void MainWindow::discoveryFinished()
{
    discoveryParser->feed(process->readAllStandardOutput());
    discoveryParser->finish();
    discoveryErrors += QString::fromUtf8(process->readAllStandardError());
    runButton->setEnabled(true);
    busyIndicator->hide();
    const QString failure = describeErrors(discoveryErrors.split('\n'));
    if (!failure.isEmpty()) {
        statusLabel->setText("Discovery failed on " + discoveryInterface + ": " + failure);
        showBox(this, QMessageBox::Warning, "Error", "The discovery failed: " + failure);
        return;
    }
    deviceTable->markSeen(discoverySeen);
    statusLabel->setText(discoverySeen.isEmpty()
                             ? "No fixture answered on " + discoveryInterface + ": check the interface"
                             : QString("%1 fixtures found on %2").arg(discoverySeen.size()).arg(discoveryInterface));
}

// Works out what the run will do, asks the operator, then updates the
// fixtures one after the other while the table stays live.
void MainWindow::runUploads()
{
    QString problem;
    if (!checkImage(&problem)) {
        showBox(this, QMessageBox::Warning, "Error", "The firmware file cannot be used: " + problem);
        return;
    }
    const QString target = versionText(image.version);
    QList<DiscoveredFixture> selected;
    for (int row : deviceTable->selectedRowNumbers())
        selected.append(deviceTable->fixtureAt(row));
    const UploadPlan plan = planUploads(selected, image, forceUpdateCheckBox->isChecked());
    if (!plan.toUpdate.isEmpty() && !confirmUpdate(this, plan, target))
        return;

    UploadRun run(kUpdaterProgram, currentArguments, target, this);
    if (parallelCheckBox->isChecked())
        run.setParallel(kMaxTransfersInFlight);
    QList<int> toUpdate;
    for (const DiscoveredFixture &fixture : plan.toUpdate) {
        run.addFixture(fixture.ip, fixture.name, fixture.version);
        toUpdate.append(deviceTable->rowOf(fixture.ip));
    }
    for (const FixtureResult &result : plan.skipped)
        deviceTable->showResult(deviceTable->rowOf(result.ip), result);
    deviceTable->resetBars(toUpdate);
    connect(&run, &UploadRun::fixtureStarted, this, [this](const QString &ip) {
        deviceTable->scrollToItem(deviceTable->item(deviceTable->rowOf(ip), 0));
        showRunStatus();
    });
    connect(&run, &UploadRun::outputRead, this, &MainWindow::updateProgressBar);
    connect(&run, &UploadRun::stuck, this, &MainWindow::uploadStuck);
    connect(&run, &UploadRun::startFailed, this, [this](const QString &ip) {
        showBox(this, QMessageBox::Warning, "Error", "Failed to start the command for IP: " + ip);
    });
    connect(&run, &UploadRun::fixtureEnded, this, &MainWindow::fixtureEnded);

    currentRun = &run;
    uploadRunning = true;
    setControlsEnabled(false);
    run.run();
    setControlsEnabled(true);
    uploadRunning = false;
    currentRun = nullptr;
    lastResults = run.results() + plan.skipped;
    fileUpdateCheckBox->setChecked(false);
    selectAllButton->setVisible(deviceTable->rowCount() > 0);
    summariseRun();
}

// During a run only the controls rest; the table scrolls and shows details.
void MainWindow::setControlsEnabled(bool enabled)
{
    for (QWidget *control : std::initializer_list<QWidget *>{
             nicComboBox, refreshButton, browseButton, forceUpdateCheckBox, fileUpdateCheckBox,
             selectAllButton, saveReportButton, runButton, parallelCheckBox})
        control->setEnabled(enabled);
    saveReportButton->setEnabled(enabled && !lastResults.isEmpty());
    stopButton->setEnabled(true);
    stopButton->setVisible(!enabled && !parallelCheckBox->isChecked());
}

void MainWindow::showRunStatus()
{
    if (currentRun && currentRun->currentIndex() >= 0)
        statusLabel->setText(currentRun->statusText());
}

void MainWindow::stopAfterThisFixture()
{
    if (!currentRun)
        return;
    currentRun->stopAfterCurrent();
    stopButton->setEnabled(false);
    statusLabel->setText(statusLabel->text() + "; stopping after this fixture");
}

void MainWindow::resetProgressBars()
{
    totalBlockCountMap.clear();
    blockCountMap.clear();
}

// One piece of a fixture's output, cut wherever the pipe cut it; the run
// has already read it and tracks the fixture's progress, which its bar shows.
void MainWindow::updateProgressBar(const QString &output, const QString &ip)
{
    qDebug() << "Processing output for IP:" << ip;
    qDebug() << "Output received:" << output;
    const UploadProgress *progress = currentRun ? currentRun->progressOf(ip) : nullptr;
    if (!progress || !deviceTable->showProgress(ip, *progress))
        return;
    totalBlockCountMap.insert(ip, progress->blockCount());
    blockCountMap.insert(ip, progress->progress());
    showRunStatus();
}

// The child fell silent part way: the row turns red while it runs. Its
// verdict still comes when it ends, so a late success turns it green again.
void MainWindow::uploadStuck(const QString &ip)
{
    QProgressBar *bar = deviceTable->barOf(ip);
    if (bar && bar->value() > bar->minimum() && bar->value() < bar->maximum()) {
        qDebug() << "Upload stuck for IP:" << ip;
        FixtureTable::setBarState(bar, FixtureTable::BarState::Failed);
    }
}

// The fixture succeeded if and only if its child printed the success line
// before it ended; anything else (an error, a crash, no output at all)
// fails it at once, with the reason its child gave.
void MainWindow::fixtureEnded(const QString &ip, const FixtureResult &result)
{
    if (result.outcome == FixtureResult::Outcome::Failed) {
        qDebug() << "Upload failed for IP:" << ip << result.reason;
        anyFailed = true;
    }
    deviceTable->showResult(deviceTable->rowOf(ip), result);
}

// Counts in the status line after every run; failures also in a box that
// names each failed fixture and why, with its rows selected.
void MainWindow::summariseRun()
{
    const QString summary = summaryLine(lastResults);
    statusLabel->setText(summary);
    saveReportButton->setEnabled(!lastResults.isEmpty());
    if (anyFailed) {
        deviceTable->selectRowsIn(FixtureTable::BarState::Failed);
        showBox(this, QMessageBox::Warning, "Warning", kFailureSummary,
                summary + "\n\n" + failureLines(lastResults).join('\n'));
    }
}

// The last run as CSV, for the rig's paperwork.
void MainWindow::saveReport()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Run Report"),
                                                      QDir(lastDirectory).filePath("update-report.csv"),
                                                      tr("CSV Files (*.csv);;All Files (*)"));
    QString error;
    if (!path.isEmpty() && !writeCsvReport(path, lastResults, &error))
        showBox(this, QMessageBox::Warning, "Error", "The report cannot be written: " + error);
}

// What the last run says about this fixture: why it failed, and all its
// child printed.
void MainWindow::showFixtureDetails(int row)
{
    const QString ip = deviceTable->item(row, 1)->text();
    for (const FixtureResult &result : lastResults) {
        if (result.ip == ip) {
            showNotice(this, QMessageBox::Information, "Fixture " + ip,
                       result.reason.isEmpty() ? "Updated." : result.reason, result.log);
            return;
        }
    }
}
