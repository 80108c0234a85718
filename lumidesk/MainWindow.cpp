#include "MainWindow.h"
#include "UploadJob.h"

#include <QAbstractSocket>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPixmap>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>


static const char kUpdaterProgram[] = "./lumiload";

// Shows a modal box with the window as parent and the single button Ok.
// A box is a window of its own, so it takes input while the window is
// disabled during a run.
static void showBox(QWidget *window, QMessageBox::Icon icon, const QString &title,
                    const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, window);
    box.exec();
}

// Widgets carry their member's name, so they can be found from outside.
template <typename T> static T *named(T *object, const char *name)
{
    object->setObjectName(name);
    return object;
}

// One option at the right end of its row: caption, then box.
static QHBoxLayout *optionRow(QLabel *caption, QCheckBox *box)
{
    QHBoxLayout *row = new QHBoxLayout();
    row->addStretch(1);
    row->addWidget(caption);
    row->addWidget(box);
    return row;
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), process(named(new QProcess(this), "process")), anyFailed(false),
      discoveryParser(new DiscoveryParser(this))
{
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

    connect(process, &QProcess::readyReadStandardOutput, this, &MainWindow::readProcessOutput);
    connect(process, &QProcess::finished, this, &MainWindow::discoveryFinished);
    connect(discoveryParser, &DiscoveryParser::fixturesFound, this, &MainWindow::addFixtures);
}

// Logo and title, centred.
void MainWindow::buildHeading(QVBoxLayout *mainLayout)
{
    QWidget *headerWidget = new QWidget();
    QVBoxLayout *headerLayout = new QVBoxLayout(headerWidget);
    headingWidget = named(new QWidget(), "headingWidget");
    QHBoxLayout *headingLayout = new QHBoxLayout(headingWidget);
    logoLabel = named(new QLabel(), "logoLabel");
    const QPixmap logo("icons/logo.png");
    if (!logo.isNull())
        logoLabel->setPixmap(logo.scaled(40, 40, Qt::KeepAspectRatio, Qt::FastTransformation));
    textLabel = named(new QLabel(" Orvane Ethernet Updater"), "textLabel");
    QFont headingFont = textLabel->font();
    headingFont.setPointSize(20);
    headingFont.setBold(true);
    textLabel->setFont(headingFont);
    headingLayout->addWidget(logoLabel);
    headingLayout->addWidget(textLabel, 0, Qt::AlignCenter);
    headerLayout->addWidget(headingWidget, 0, Qt::AlignCenter);
    mainLayout->addWidget(headerWidget);
}

// Filled before the table and its filter exist, so filling runs no filter.
void MainWindow::buildInterfaceRow(QVBoxLayout *mainLayout)
{
    nicComboBox = named(new QComboBox(), "nicComboBox");
    refreshButton = named(new QPushButton("Refresh"), "refreshButton");
    QHBoxLayout *nicLayout = new QHBoxLayout();
    nicLayout->addWidget(nicComboBox, 1);
    nicLayout->addWidget(refreshButton, 0);
    connect(refreshButton, &QPushButton::clicked, this, &MainWindow::refreshNICs);
    loadNetworkInterfaces();
    mainLayout->addLayout(nicLayout);
}

void MainWindow::buildFileRow(QVBoxLayout *mainLayout)
{
    filePathEdit = named(new QLineEdit(), "filePathEdit");
    filePathEdit->setPlaceholderText("Select a firmware file...");
    filePathEdit->setReadOnly(true);
    filePathEdit->setStyleSheet(
        "QLineEdit { color: white; } QLineEdit::placeholder { color: #F8F8FF; }");
    connect(filePathEdit, &QLineEdit::textChanged, this, &MainWindow::getVersion);
    browseButton = named(new QPushButton("Browse"), "browseButton");
    connect(browseButton, &QPushButton::clicked, this, &MainWindow::browseFile);
    QHBoxLayout *fileSelectionLayout = new QHBoxLayout();
    fileSelectionLayout->addWidget(filePathEdit, 1);
    fileSelectionLayout->addWidget(browseButton);
    mainLayout->addLayout(fileSelectionLayout);
}

// Target version on the left; the two options, caption before box, at the
// right end.
void MainWindow::buildOptionsRow(QVBoxLayout *mainLayout)
{
    QHBoxLayout *versionLayout = new QHBoxLayout();
    versionLabel = named(new QLabel("Target Version: (none)"), "versionLabel");
    versionLayout->addWidget(versionLabel);
    QHBoxLayout *checkboxLayout = new QHBoxLayout();
    QVBoxLayout *checkboxVerticalLayout = new QVBoxLayout();
    forceUpdateLabel = named(new QLabel(QString::fromUtf8(" Skip Version Check\xEF\xBC\x9A ")),
                             "forceUpdateLabel");
    forceUpdateCheckBox = named(new QCheckBox(), "forceUpdateCheckBox");
    fileUpdateLabel = named(
        new QLabel(QString::fromUtf8(" Apply Update to selected Fixtures\xEF\xBC\x9A ")),
        "fileUpdateLabel");
    fileUpdateCheckBox = named(new QCheckBox(), "fileUpdateCheckBox");
    checkboxVerticalLayout->addLayout(optionRow(forceUpdateLabel, forceUpdateCheckBox));
    checkboxVerticalLayout->addLayout(optionRow(fileUpdateLabel, fileUpdateCheckBox));
    checkboxLayout->addLayout(versionLayout);
    checkboxLayout->addStretch(1);
    checkboxLayout->addLayout(checkboxVerticalLayout);
    mainLayout->addLayout(checkboxLayout);

    connect(forceUpdateCheckBox, &QCheckBox::stateChanged, this,
            &MainWindow::updateCommandParameters);
    connect(fileUpdateCheckBox, &QCheckBox::stateChanged, this,
            &MainWindow::updateCommandParameters);
    connect(nicComboBox, &QComboBox::currentIndexChanged, this,
            &MainWindow::updateDeviceTableBasedOnNIC);
}

void MainWindow::buildTable(QVBoxLayout *mainLayout)
{
    deviceTable = named(new FixtureTable(this), "deviceTable");
    connect(deviceTable->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &MainWindow::selectAllCells);
    mainLayout->addWidget(deviceTable, 0);
}

void MainWindow::buildButtonRow(QVBoxLayout *mainLayout)
{
    selectAllButton = named(new QPushButton("Select All Fixtures"), "selectAllButton");
    selectAllButton->setContentsMargins(10, 5, 10, 5);
    selectAllButton->setVisible(deviceTable->rowCount() > 0);
    selectAllButton->adjustSize();
    connect(selectAllButton, &QPushButton::clicked, this, &MainWindow::selectAllDevices);
    runButton = named(new QPushButton("Discover Fixtures"), "runButton");
    // runCommand reads the target version before getVersion refreshes it.
    connect(runButton, &QPushButton::clicked, this, &MainWindow::runCommand);
    connect(runButton, &QPushButton::clicked, this, &MainWindow::getVersion);
    QHBoxLayout *bottombuttonLayout = new QHBoxLayout();
    bottombuttonLayout->addWidget(selectAllButton);
    bottombuttonLayout->addWidget(runButton);
    mainLayout->addLayout(bottombuttonLayout);
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

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (uploadRunning) {
        event->ignore();
        showBox(this, QMessageBox::Warning, "Warning",
                "A firmware upload is in progress. Please wait until it has finished "
                "before closing the window.");
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
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!(iface.flags() & QNetworkInterface::IsUp))
            continue;
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                nicComboBox->addItem(address.toString());
        }
    }
}

void MainWindow::refreshNICs()
{
    nicComboBox->clear();
    loadNetworkInterfaces();
}

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

    lastDirectory = QFileInfo(fileName).absolutePath();
    QSettings settings("YourCompanyName", "YourAppName");
    settings.setValue("lastDirectory", lastDirectory);
    filePathEdit->setText(fileName);
    updateCommandParameters();
}

// Reads the two version bytes at offset 2 of the ALF header and shows them
// as the target version.
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
    const TargetVersion version =
        decodeTargetVersion(quint8(versionData.at(0)), quint8(versionData.at(1)));
    qDebug() << "Decoded Firmware Version: v" << version.major << "." << version.minor << "."
             << version.patch;
    versionLabel->setText(QString("Target Version: v%1.%2.%3")
                              .arg(version.major)
                              .arg(version.minor)
                              .arg(version.patch));
}

void MainWindow::addDeviceToTable(const QString &name, const QString &ip, const QString &version)
{
    addFixtures({{name, ip, version}});
}

void MainWindow::addFixtures(const QList<DiscoveredFixture> &fixtures)
{
    if (deviceTable->addFixtures(fixtures) > 0)
        selectAllButton->show();
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
    const QString selectedIPHeader = nicComboBox->currentText().section('.', 0, 0);
    selectAllButton->setVisible(deviceTable->showOnlyFirstNumber(selectedIPHeader));
}

void MainWindow::updateCommandParameters()
{
    currentArguments.clear();
    if (fileUpdateCheckBox->isChecked() && !filePathEdit->text().isEmpty())
        currentArguments << "-i" << "-f" << filePathEdit->text() << "-m";
    currentArguments << "-s " << nicComboBox->currentText();
    runButton->setText(fileUpdateCheckBox->isChecked() ? "Upload to Fixtures"
                                                       : "Discover Fixtures");
}

void MainWindow::runCommand()
{
    updateCommandParameters();
    resetProgressBars();
    setEnabled(false);
    anyFailed = false;
    const QString targetVersion = versionLabel->text().split(" ").last();

    if (fileUpdateCheckBox->isChecked() && !filePathEdit->text().isEmpty()) {
        runUploads(targetVersion);
    } else {
        // One discovery process at a time; a new press while it still runs
        // lets the running one go on.
        if (process->state() == QProcess::NotRunning) {
            discoveryParser->reset();
            process->start(kUpdaterProgram, currentArguments);
            qDebug() << "Running process:" << kUpdaterProgram << currentArguments;
        }
        if (!process->waitForStarted(UploadJob::startTimeout())) {
            showBox(this, QMessageBox::Critical, "Error", "Failed to start the command.");
            setEnabled(true);
            return;
        }
    }

    setEnabled(true);
    fileUpdateCheckBox->setChecked(false);
    selectAllButton->setVisible(deviceTable->rowCount() > 0);
    if (anyFailed) {
        deviceTable->selectRowsIn(FixtureTable::BarState::Failed);
        showBox(this, QMessageBox::Warning, "Warning",
                "Some devices failed to update. Please check the chart for details.");
    }
}

// Updates the selected fixtures one after the other, top to bottom, each
// by its own lumiload; returns when the last one has ended.
void MainWindow::runUploads(const QString &targetVersion)
{
    uploadRunning = true;
    for (int row : deviceTable->selectedRowNumbers()) {
        const QString ip = deviceTable->item(row, 1)->text();
        const QString deviceVersion = "v" + deviceTable->item(row, 2)->text();
        qDebug() << "target :" << targetVersion << "device :" << deviceVersion;

        if (!forceUpdateCheckBox->isChecked() && deviceVersion == targetVersion) {
            if (QProgressBar *bar = deviceTable->barAt(row))
                FixtureTable::setBarState(bar, FixtureTable::BarState::Skipped);
            continue;
        }

        QStringList arguments = currentArguments;
        arguments << "-d" << ip;
        UploadJob *job = new UploadJob(ip, this);
        connect(job, &UploadJob::outputRead, this,
                [this, ip](const QString &output) { updateProgressBar(output, ip); });
        connect(job, &UploadJob::stuck, this, [this, ip]() { uploadStuck(ip); });
        jobs.insert(ip, job);
        const bool started = job->start(kUpdaterProgram, arguments);
        qDebug() << "Running process:" << kUpdaterProgram << arguments;
        if (!started) {
            jobs.remove(ip);
            showBox(this, QMessageBox::Warning, "Error", "Failed to start the command for IP: " + ip);
            anyFailed = true;
            continue;
        }
        job->waitForEnd();
        uploadEnded(job);
    }
    uploadRunning = false;
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
}

void MainWindow::resetProgressBars()
{
    totalBlockCountMap.clear();
    blockCountMap.clear();
    succeededIPs.clear();
    deviceTable->resetBars();
}

// One piece of a fixture's output, cut wherever the pipe cut it; the job
// has already read it. The first "blockCount=" sets the bar's range, every
// "-" is one more block, the success line completes the bar.
void MainWindow::updateProgressBar(const QString &output, const QString &ip)
{
    qDebug() << "Processing output for IP:" << ip;
    qDebug() << "Output received:" << output;

    if (!totalBlockCountMap.contains(ip)) {
        totalBlockCountMap.insert(ip, 0);
        blockCountMap.insert(ip, 0);
    }
    QProgressBar *bar = deviceTable->barOf(ip);
    const UploadJob *job = jobs.value(ip);
    if (!bar || !job)
        return;

    const UploadProgress &progress = job->progress();
    if (totalBlockCountMap.value(ip) == 0 && progress.blockCount() > 0) {
        totalBlockCountMap.insert(ip, progress.blockCount());
        bar->setRange(0, progress.blockCount());
        qDebug() << "Total block count for IP" << ip << ":" << progress.blockCount();
    }
    blockCountMap.insert(ip, progress.progress());
    bar->setValue(progress.progress());
    qDebug() << "Current progress for IP" << ip << ":" << progress.progress();

    if (progress.succeeded())
        markUploadSucceeded(ip, bar);
}

void MainWindow::markUploadSucceeded(const QString &ip, QProgressBar *bar)
{
    if (!succeededIPs.contains(ip))
        qDebug() << "'# Firmware uploaded successfully' detected for IP:" << ip;
    succeededIPs.insert(ip);
    FixtureTable::setBarState(bar, FixtureTable::BarState::Succeeded);
    const QString targetVersion = versionLabel->text().split(" ").last().mid(1);
    deviceTable->item(deviceTable->rowOf(ip), 2)->setText(targetVersion);
    bar->setValue(totalBlockCountMap.value(ip));
    deviceTable->horizontalHeader()->setStretchLastSection(true);
}

// The child fell silent part way: the row turns red while it runs. Its
// verdict still comes when it ends, so a late success turns it green again.
void MainWindow::uploadStuck(const QString &ip)
{
    QProgressBar *bar = deviceTable->barOf(ip);
    if (bar && bar->value() > bar->minimum() && bar->value() < bar->maximum()) {
        qDebug() << "Upload stuck for IP:" << ip;
        FixtureTable::setBarState(bar, FixtureTable::BarState::Failed);
        deviceTable->horizontalHeader()->setStretchLastSection(true);
    }
}

// The fixture succeeded if and only if its process printed the success
// line before it ended; anything else (an error, a crash, no output at all)
// fails it at once.
void MainWindow::uploadEnded(UploadJob *job)
{
    const QString ip = job->ip();
    QProgressBar *bar = deviceTable->barOf(ip);
    if (job->succeeded()) {
        if (bar && !succeededIPs.contains(ip))
            markUploadSucceeded(ip, bar);
    } else {
        qDebug() << "Upload failed for IP:" << ip;
        anyFailed = true;
        if (bar) {
            FixtureTable::setBarState(bar, FixtureTable::BarState::Failed);
            deviceTable->horizontalHeader()->setStretchLastSection(true);
        }
    }
    jobs.remove(ip);
    job->deleteLater();
}
