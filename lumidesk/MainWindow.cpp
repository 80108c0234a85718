#include "MainWindow.h"

#include <QAbstractSocket>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
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
#include <QMouseEvent>
#include <QNetworkInterface>
#include <QPalette>
#include <QPixmap>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

static const char kUpdaterProgram[] = "./lumiload";
static const char kSuccessLine[] = "# Firmware uploaded successfully";
static const int kStartTimeoutMs = 30000;
static const int kStuckTimeoutMs = 5000;

// Shows a modal box with the window as parent and the single button Ok.
// During a run the window is disabled, and a box would inherit that state
// and could not be answered; a box is a window of its own, so it is
// enabled explicitly.
static void showBox(QWidget *window, QMessageBox::Icon icon, const QString &title,
                    const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, window);
    box.setEnabled(true);
    box.exec();
}

// Format text and highlight colour carry a bar's state: blue reset, green
// succeeded or skipped, red failed.
static void setBarState(QProgressBar *bar, const QString &format, const QColor &colour)
{
    bar->setFormat(format);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Highlight, colour);
    bar->setPalette(palette);
}

CustomHeaderView::CustomHeaderView(Qt::Orientation orientation, QWidget *parent)
    : QHeaderView(orientation, parent)
{
}

CustomHeaderView::~CustomHeaderView() = default;

void CustomHeaderView::mousePressEvent(QMouseEvent *event)
{
    const int logicalIndex = logicalIndexAt(event->pos());
    QHeaderView::mousePressEvent(event);
    emit sectionClicked(logicalIndex);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), process(new QProcess(this)), anyFailed(false)
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

    // Heading: logo and title, centred.
    QWidget *headerWidget = new QWidget();
    QVBoxLayout *headerLayout = new QVBoxLayout(headerWidget);
    headingWidget = new QWidget();
    headingWidget->setObjectName("headingWidget");
    QHBoxLayout *headingLayout = new QHBoxLayout(headingWidget);
    logoLabel = new QLabel();
    logoLabel->setObjectName("logoLabel");
    const QPixmap logo("icons/logo.png");
    if (!logo.isNull())
        logoLabel->setPixmap(logo.scaled(40, 40, Qt::KeepAspectRatio, Qt::FastTransformation));
    textLabel = new QLabel(" Orvane Ethernet Updater");
    textLabel->setObjectName("textLabel");
    QFont headingFont = textLabel->font();
    headingFont.setPointSize(20);
    headingFont.setBold(true);
    textLabel->setFont(headingFont);
    headingLayout->addWidget(logoLabel);
    headingLayout->addWidget(textLabel, 0, Qt::AlignCenter);
    headerLayout->addWidget(headingWidget, 0, Qt::AlignCenter);
    mainLayout->addWidget(headerWidget);

    // Interface selector. Filled before the table and its filter exist.
    nicComboBox = new QComboBox();
    nicComboBox->setObjectName("nicComboBox");
    refreshButton = new QPushButton("Refresh");
    refreshButton->setObjectName("refreshButton");
    QHBoxLayout *nicLayout = new QHBoxLayout();
    nicLayout->addWidget(nicComboBox, 1);
    nicLayout->addWidget(refreshButton, 0);
    connect(refreshButton, &QPushButton::clicked, this, &MainWindow::refreshNICs);
    loadNetworkInterfaces();
    mainLayout->addLayout(nicLayout);

    // Firmware file.
    filePathEdit = new QLineEdit();
    filePathEdit->setObjectName("filePathEdit");
    filePathEdit->setPlaceholderText("Select a firmware file...");
    filePathEdit->setReadOnly(true);
    filePathEdit->setStyleSheet(
        "QLineEdit { color: white; } QLineEdit::placeholder { color: #F8F8FF; }");
    connect(filePathEdit, &QLineEdit::textChanged, this, &MainWindow::getVersion);
    browseButton = new QPushButton("Browse");
    browseButton->setObjectName("browseButton");
    connect(browseButton, &QPushButton::clicked, this, &MainWindow::browseFile);
    QHBoxLayout *fileSelectionLayout = new QHBoxLayout();
    fileSelectionLayout->addWidget(filePathEdit, 1);
    fileSelectionLayout->addWidget(browseButton);
    QHBoxLayout *versionLayout = new QHBoxLayout();
    mainLayout->addLayout(fileSelectionLayout);

    // Target version and the two options.
    versionLabel = new QLabel("Target Version: (none)");
    versionLabel->setObjectName("versionLabel");
    versionLayout->addWidget(versionLabel);
    QHBoxLayout *checkboxLayout = new QHBoxLayout();
    QVBoxLayout *checkboxVerticalLayout = new QVBoxLayout();
    QHBoxLayout *forceUpdateLayout = new QHBoxLayout();
    forceUpdateLabel = new QLabel(QString::fromUtf8(" Skip Version Check\xEF\xBC\x9A "));
    forceUpdateLabel->setObjectName("forceUpdateLabel");
    forceUpdateCheckBox = new QCheckBox();
    forceUpdateCheckBox->setObjectName("forceUpdateCheckBox");
    forceUpdateLayout->addStretch(1);
    forceUpdateLayout->addWidget(forceUpdateLabel);
    forceUpdateLayout->addWidget(forceUpdateCheckBox);
    QHBoxLayout *fileUpdateLayout = new QHBoxLayout();
    fileUpdateLabel =
        new QLabel(QString::fromUtf8(" Apply Update to selected Fixtures\xEF\xBC\x9A "));
    fileUpdateLabel->setObjectName("fileUpdateLabel");
    fileUpdateCheckBox = new QCheckBox();
    fileUpdateCheckBox->setObjectName("fileUpdateCheckBox");
    fileUpdateLayout->addStretch(1);
    fileUpdateLayout->addWidget(fileUpdateLabel);
    fileUpdateLayout->addWidget(fileUpdateCheckBox);
    checkboxVerticalLayout->addLayout(forceUpdateLayout);
    checkboxVerticalLayout->addLayout(fileUpdateLayout);
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

    // Fixture table.
    deviceTable = new QTableWidget(0, 4, this);
    deviceTable->setObjectName("deviceTable");
    const QStringList headers = {"Name", "IP", "Version", "Progress"};
    deviceTable->setHorizontalHeaderLabels(headers);
    deviceTable->setSelectionMode(QAbstractItemView::MultiSelection);
    deviceTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    CustomHeaderView *headerView = new CustomHeaderView(Qt::Horizontal, deviceTable);
    headerView->setObjectName("headerView");
    deviceTable->setHorizontalHeader(headerView);
    headerView->resizeSection(0, 200);
    headerView->setStretchLastSection(true);
    connect(deviceTable->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &MainWindow::selectAllCells);
    mainLayout->addWidget(deviceTable, 0);

    // Buttons.
    selectAllButton = new QPushButton("Select All Fixtures");
    selectAllButton->setObjectName("selectAllButton");
    selectAllButton->setContentsMargins(10, 5, 10, 5);
    selectAllButton->setVisible(deviceTable->rowCount() > 0);
    selectAllButton->adjustSize();
    connect(selectAllButton, &QPushButton::clicked, this, &MainWindow::selectAllDevices);
    runButton = new QPushButton("Discover Fixtures");
    runButton->setObjectName("runButton");
    connect(runButton, &QPushButton::clicked, this, &MainWindow::runCommand);
    connect(runButton, &QPushButton::clicked, this, &MainWindow::getVersion);
    QHBoxLayout *bottombuttonLayout = new QHBoxLayout();
    bottombuttonLayout->addWidget(selectAllButton);
    bottombuttonLayout->addWidget(runButton);
    mainLayout->addLayout(bottombuttonLayout);

    setCentralWidget(centralWidget);

    connect(process, &QProcess::readyReadStandardOutput, this, &MainWindow::readProcessOutput);
    connect(process, &QProcess::finished, this, &MainWindow::discoveryFinished);
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

// ---- Interface selector -------------------------------------------------

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

// ---- Firmware file and target version ----------------------------------

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

// Reads the two version bytes at offset 2 of the ALF header. A high byte of
// 16 or more holds major and minor in its two nibbles and the low byte is
// the patch; a smaller high byte is the major and the low byte the minor.
// Trailing zeros of the minor are dropped (20 shows as 2).
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
    const unsigned version_hi = static_cast<unsigned char>(versionData.at(0));
    const unsigned version_lo = static_cast<unsigned char>(versionData.at(1));
    unsigned major = version_hi >> 4;
    unsigned minor = version_hi & 0x0F;
    unsigned patch = version_lo;
    if (major == 0) {
        major = version_hi & 0x0F;
        minor = version_lo;
        patch = 0;
    }
    QString minorStr = QString::number(minor);
    while (minorStr.endsWith('0') && minorStr.size() > 1)
        minorStr.chop(1);
    minor = minorStr.toUInt();

    qDebug() << "Decoded Firmware Version: v" << major << "." << minor << "." << patch;
    versionLabel->setText(QString("Target Version: v%1.%2.%3").arg(major).arg(minor).arg(patch));
}

// ---- Fixture table ------------------------------------------------------

void MainWindow::addDeviceToTable(const QString &name, const QString &ip, const QString &version)
{
    for (int row = 0; row < deviceTable->rowCount(); ++row) {
        QTableWidgetItem *ipItem = deviceTable->item(row, 1);
        if (ipItem && ipItem->text() == ip) {
            deviceTable->item(row, 2)->setText(version);
            return;
        }
    }
    if (batchingRows) {
        // Rows found while a read is parsed are added together at its end.
        for (PendingRow &pending : pendingRows) {
            if (pending.ip == ip) {
                pending.version = version;
                return;
            }
        }
        pendingRows.append({name, ip, version});
        return;
    }
    appendRows({{name, ip, version}});
}

// Appends the rows in one insertion: the table lays out every cell widget
// again for each insertion, so a thousand single-row insertions would cost
// a million widget placements.
void MainWindow::appendRows(const QList<PendingRow> &rows)
{
    const int first = deviceTable->rowCount();
    deviceTable->setRowCount(first + rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        const int row = first + i;
        const QString texts[3] = {rows[i].name, rows[i].ip, rows[i].version};
        for (int column = 0; column < 3; ++column) {
            QTableWidgetItem *item = new QTableWidgetItem(texts[column]);
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            deviceTable->setItem(row, column, item);
        }
        // Made in the viewport it will live in: reparenting 1000 bars costs
        // as much as the rest of a large discovery.
        QProgressBar *bar = new QProgressBar(deviceTable->viewport());
        bar->setRange(0, 100);
        bar->setValue(0);
        deviceTable->setCellWidget(row, 3, bar);
    }
    fitColumns();
    selectAllButton->show();
}

void MainWindow::fitColumns()
{
    deviceTable->resizeColumnsToContents();
    deviceTable->horizontalHeader()->setStretchLastSection(false);
    deviceTable->horizontalHeader()->setStretchLastSection(true);
}

void MainWindow::selectAllCells(int index)
{
    Q_UNUSED(index);
    if (deviceTable->selectedRanges().isEmpty())
        deviceTable->selectAll();
    else
        deviceTable->clearSelection();
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
    bool anyShown = false;
    for (int row = 0; row < deviceTable->rowCount(); ++row) {
        QTableWidgetItem *ipItem = deviceTable->item(row, 1);
        const QString deviceIPHeader = ipItem ? ipItem->text().section('.', 0, 0) : QString();
        const bool shown = deviceIPHeader == selectedIPHeader;
        deviceTable->setRowHidden(row, !shown);
        anyShown = anyShown || shown;
    }
    selectAllButton->setVisible(anyShown);
}

// ---- Updater runs ---------------------------------------------------------

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
        // A row counts once however many of its cells are selected; fixtures
        // are updated in table order.
        QSet<int> selectedRowSet;
        const QList<QTableWidgetItem *> items = deviceTable->selectedItems();
        for (QTableWidgetItem *item : items)
            selectedRowSet.insert(item->row());
        QList<int> selectedRows(selectedRowSet.begin(), selectedRowSet.end());
        std::sort(selectedRows.begin(), selectedRows.end());

        uploadRunning = true;
        for (int row : selectedRows) {
            const QString ip = deviceTable->item(row, 1)->text();
            const QString deviceVersion = "v" + deviceTable->item(row, 2)->text();
            qDebug() << "target :" << targetVersion << "device :" << deviceVersion;

            if (!forceUpdateCheckBox->isChecked() && deviceVersion == targetVersion) {
                if (QProgressBar *bar = qobject_cast<QProgressBar *>(deviceTable->cellWidget(row, 3)))
                    setBarState(bar, "Version Skipped", Qt::green);
                continue;
            }

            QStringList arguments = currentArguments;
            arguments << "-d" << ip;
            QProcess *uploadProcess = new QProcess(this);
            connect(uploadProcess, &QProcess::readyReadStandardOutput, [uploadProcess, ip, this]() {
                const QString output = QString::fromUtf8(uploadProcess->readAllStandardOutput());
                updateProgressBar(output, ip);
            });
            uploadProcess->start(kUpdaterProgram, arguments);
            qDebug() << "Running process:" << kUpdaterProgram << arguments;

            if (!uploadProcess->waitForStarted(kStartTimeoutMs)) {
                showBox(this, QMessageBox::Warning, "Error",
                        "Failed to start the command for IP: " + ip);
                anyFailed = true;
                continue;
            }
            QEventLoop loop;
            connect(uploadProcess, &QProcess::finished, &loop, &QEventLoop::quit);
            // A child that ended before the loop runs has already signalled.
            if (uploadProcess->state() != QProcess::NotRunning)
                loop.exec();
            uploadProcess->waitForFinished(kStartTimeoutMs);
            finishUpload(uploadProcess, ip);
        }
        uploadRunning = false;
    } else {
        // One discovery process at a time; a new press while it still runs
        // lets the running one go on.
        if (process->state() == QProcess::NotRunning) {
            discoveryPending.clear();
            discoveryEnded = false;
            discoveryIP.clear();
            discoveryName.clear();
            discoveryVersion.clear();
            process->start(kUpdaterProgram, currentArguments);
            qDebug() << "Running process:" << kUpdaterProgram << currentArguments;
        }
        if (!process->waitForStarted(kStartTimeoutMs)) {
            showBox(this, QMessageBox::Critical, "Error", "Failed to start the command.");
            setEnabled(true);
            return;
        }
    }

    setEnabled(true);
    fileUpdateCheckBox->setChecked(false);
    selectAllButton->setVisible(deviceTable->rowCount() > 0);
    if (anyFailed) {
        deviceTable->clearSelection();
        for (int row = 0; row < deviceTable->rowCount(); ++row) {
            QProgressBar *bar = qobject_cast<QProgressBar *>(deviceTable->cellWidget(row, 3));
            if (bar && bar->format() == "Upload Failed")
                deviceTable->selectRow(row);
        }
        showBox(this, QMessageBox::Warning, "Warning",
                "Some devices failed to update. Please check the chart for details.");
    }
}

void MainWindow::readProcessOutput()
{
    const QByteArray data = process->readAllStandardOutput();
    qDebug() << "About to parse output:" << QString::fromUtf8(data);
    discoveryPending += data;
    parseDiscoveryOutput();
}

void MainWindow::discoveryFinished()
{
    discoveryPending += process->readAllStandardOutput();
    discoveryEnded = true;
    parseDiscoveryOutput();
}

// Parses the complete lines received so far, for at most 50 ms at a time so
// that a large report keeps the window responsive; the rest follows from
// the event loop. The rows a slice finds are added together at its end.
void MainWindow::parseDiscoveryOutput()
{
    QElapsedTimer slice;
    slice.start();
    qsizetype start = 0;
    qsizetype end;
    bool more = false;
    batchingRows = true;
    while ((end = discoveryPending.indexOf('\n', start)) != -1) {
        parseDiscoveryLine(QString::fromUtf8(discoveryPending.constData() + start, end - start));
        start = end + 1;
        if (slice.elapsed() >= 50) {
            more = discoveryPending.indexOf('\n', start) != -1;
            break;
        }
    }
    batchingRows = false;
    discoveryPending.remove(0, start);
    if (!pendingRows.isEmpty()) {
        appendRows(pendingRows);
        pendingRows.clear();
    }

    if (more) {
        if (!discoveryParseScheduled) {
            discoveryParseScheduled = true;
            QTimer::singleShot(0, this, [this]() {
                discoveryParseScheduled = false;
                parseDiscoveryOutput();
            });
        }
        return;
    }
    if (discoveryEnded) {
        // The last line of a run may lack its line feed.
        if (!discoveryPending.isEmpty())
            parseDiscoveryLine(QString::fromUtf8(discoveryPending));
        discoveryPending.clear();
        discoveryEnded = false;
    }
}

// A fixture block is "Fixture detected:" followed by "    key=value" lines;
// the key is the text before the line's first "=", the value everything
// after it, so names that contain "=" or "ip=" stay whole.
void MainWindow::parseDiscoveryLine(const QString &rawLine)
{
    const QString line = rawLine.trimmed();
    if (line.startsWith("Fixture detected:")) {
        discoveryIP.clear();
        discoveryName.clear();
        discoveryVersion.clear();
    } else {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0) {
            const QStringView key = QStringView(line).left(equals);
            const QString value = line.mid(equals + 1).trimmed();
            if (key == u"ip")
                discoveryIP = value;
            else if (key == u"longName")
                discoveryName = value;
            else if (key == u"version")
                discoveryVersion = value;
        }
    }
    if (!discoveryIP.isEmpty() && !discoveryName.isEmpty() && !discoveryVersion.isEmpty())
        addDeviceToTable(discoveryName, discoveryIP, discoveryVersion);
}

// ---- Upload progress --------------------------------------------------------

void MainWindow::resetProgressBars()
{
    totalBlockCountMap.clear();
    blockCountMap.clear();
    pendingUploadLine.clear();
    succeededIPs.clear();
    for (int row = 0; row < deviceTable->rowCount(); ++row) {
        QProgressBar *bar = qobject_cast<QProgressBar *>(deviceTable->cellWidget(row, 3));
        if (!bar)
            continue;
        bar->reset();
        bar->setValue(0);
        setBarState(bar, "%p%", Qt::blue);
    }
}

QProgressBar *MainWindow::progressBarFor(const QString &ip) const
{
    for (int row = 0; row < deviceTable->rowCount(); ++row) {
        QTableWidgetItem *ipItem = deviceTable->item(row, 1);
        if (ipItem && ipItem->text() == ip)
            return qobject_cast<QProgressBar *>(deviceTable->cellWidget(row, 3));
    }
    return nullptr;
}

// One piece of a fixture's output, cut wherever the pipe cut it. The first
// "blockCount=" sets the bar's range, every "-" is one more block, the
// success line completes the bar. Each piece without success pushes the
// fixture's stuck deadline 5000 ms further.
void MainWindow::updateProgressBar(const QString &output, const QString &ip)
{
    qDebug() << "Processing output for IP:" << ip;
    qDebug() << "Output received:" << output;

    if (!totalBlockCountMap.contains(ip)) {
        totalBlockCountMap.insert(ip, 0);
        blockCountMap.insert(ip, 0);
    }
    QProgressBar *bar = progressBarFor(ip);
    if (!bar)
        return;

    QStringList lines = (pendingUploadLine.value(ip) + output).split('\n');
    pendingUploadLine.insert(ip, lines.takeLast());
    bool succeeded = false;
    for (const QString &line : lines) {
        if (scanUploadLine(line, ip, bar))
            succeeded = true;
    }

    blockCountMap[ip] += output.count('-');
    bar->setValue(blockCountMap.value(ip));
    qDebug() << "Current progress for IP" << ip << ":" << blockCountMap.value(ip);

    if (succeeded || succeededIPs.contains(ip)) {
        markUploadSucceeded(ip, bar);
        return;
    }

    QTimer *timer = timers.value(ip);
    if (!timer) {
        timer = new QTimer(this);
        timers.insert(ip, timer);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, [bar, ip, this]() {
            if (bar->value() > bar->minimum() && bar->value() < bar->maximum()) {
                qDebug() << "Upload stuck for IP:" << ip;
                setBarState(bar, "Upload Failed", Qt::red);
                deviceTable->horizontalHeader()->setStretchLastSection(true);
            }
        });
    }
    timer->start(kStuckTimeoutMs);
}

// Returns true for the success line.
bool MainWindow::scanUploadLine(const QString &line, const QString &ip, QProgressBar *bar)
{
    if (totalBlockCountMap.value(ip) == 0) {
        static const QRegularExpression blockCountPattern("blockCount=(\\d+)");
        const QRegularExpressionMatch match = blockCountPattern.match(line);
        if (match.hasMatch()) {
            const int total = match.captured(1).toInt();
            totalBlockCountMap.insert(ip, total);
            if (total > 0)
                bar->setRange(0, total);
            qDebug() << "Total block count for IP" << ip << ":" << total;
        }
    }
    return line.contains(kSuccessLine);
}

void MainWindow::markUploadSucceeded(const QString &ip, QProgressBar *bar)
{
    if (!succeededIPs.contains(ip))
        qDebug() << "'# Firmware uploaded successfully' detected for IP:" << ip;
    succeededIPs.insert(ip);
    setBarState(bar, "Upload Successful", Qt::green);

    const QString targetVersion = versionLabel->text().split(" ").last().mid(1);
    for (int row = 0; row < deviceTable->rowCount(); ++row) {
        QTableWidgetItem *ipItem = deviceTable->item(row, 1);
        if (ipItem && ipItem->text() == ip) {
            deviceTable->item(row, 2)->setText(targetVersion);
            break;
        }
    }
    if (QTimer *timer = timers.take(ip)) {
        timer->stop();
        delete timer;
    }
    bar->setValue(totalBlockCountMap.value(ip));
    deviceTable->horizontalHeader()->setStretchLastSection(true);
}

// The fixture succeeded if and only if its process printed the success
// line before it ended; anything else (an error, a crash, no output at all)
// fails it at once.
void MainWindow::finishUpload(QProcess *uploadProcess, const QString &ip)
{
    const QByteArray rest = uploadProcess->readAllStandardOutput();
    if (!rest.isEmpty())
        updateProgressBar(QString::fromUtf8(rest), ip);

    QProgressBar *bar = progressBarFor(ip);
    const QString lastLine = pendingUploadLine.take(ip);
    if (bar && !succeededIPs.contains(ip) && scanUploadLine(lastLine, ip, bar))
        markUploadSucceeded(ip, bar);

    if (QTimer *timer = timers.take(ip)) {
        timer->stop();
        delete timer;
    }
    if (succeededIPs.contains(ip))
        return;

    qDebug() << "Upload failed for IP:" << ip << "exit code" << uploadProcess->exitCode();
    anyFailed = true;
    if (bar) {
        setBarState(bar, "Upload Failed", Qt::red);
        deviceTable->horizontalHeader()->setStretchLastSection(true);
    }
}
