// The window's widgets, row by row, and the connections each row makes.
// The behaviour behind them lives in MainWindow.cpp.
#include "MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

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

// A setting of update runs, remembered under `key`; `none` names its
// minimum, when that means "not set".
QSpinBox *MainWindow::settingBox(const char *name, int minimum, int maximum, int initial, const QString &none,
                                 const QString &key)
{
    QSpinBox *box = named(new QSpinBox(), name);
    box->setRange(minimum, maximum);
    box->setSpecialValueText(none);
    box->setValue(storedSetting(key).isValid() ? storedSetting(key).toInt() : initial);
    connect(box, &QSpinBox::valueChanged, this, [key](int value) { storeSetting(key, value); });
    return box;
}

// The settings of every update run, in a window of their own that does not
// hold up the main one.
void MainWindow::buildRunSettings()
{
    QDialog *dialog = named(new QDialog(this), "runSettingsDialog");
    dialog->setWindowTitle("Run Settings");
    QFormLayout *form = new QFormLayout(dialog);
    retriesSpinBox = settingBox("retriesSpinBox", 0, 9, 0, "none", "retries");
    restartWaitSpinBox = settingBox("restartWaitSpinBox", 1, 65535, kDefaultRestartWait, "", "restartWait");
    restartWaitSpinBox->setSuffix(" s");
    failureLimitSpinBox = settingBox("failureLimitSpinBox", 0, 65535, 0, "off", "failureLimit");
    form->addRow("Retries of a failed fixture:", retriesSpinBox);
    form->addRow("Restart wait:", restartWaitSpinBox);
    form->addRow("Stop after failures:", failureLimitSpinBox);
    form->addRow(parallelCheckBox);
    // A test group: the first fixtures of a run go first, and the run stops
    // if one of them fails.
    testGroupSpinBox = settingBox("testGroupSpinBox", 0, 999, 0, "off", "testGroup");
    form->addRow("Test on the first N fixtures first:", testGroupSpinBox);
    QDialogButtonBox *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::hide);
    form->addRow(buttons);
    connect(runSettingsButton, &QPushButton::clicked, dialog, &QDialog::show);
}

// Logo and title, centred.
void MainWindow::buildHeading(QVBoxLayout *mainLayout)
{
    QWidget *headerWidget = new QWidget();
    QVBoxLayout *headerLayout = new QVBoxLayout(headerWidget);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headingWidget = named(new QWidget(), "headingWidget");
    QHBoxLayout *headingLayout = new QHBoxLayout(headingWidget);
    headingLayout->setContentsMargins(0, 0, 0, 0);
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
    checkNetworkButton = named(new QPushButton("Check Network..."), "checkNetworkButton");
    nicLayout->addWidget(checkNetworkButton, 0);
    connect(refreshButton, &QPushButton::clicked, this, &MainWindow::refreshNICs);
    loadNetworkInterfaces();
    selectPreferredInterface();
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
    // A folder of images for a rig of several models.
    browseFolderButton = named(new QPushButton("Firmware Folder"), "browseFolderButton");
    connect(browseFolderButton, &QPushButton::clicked, this, &MainWindow::browseFolder);
    QHBoxLayout *fileSelectionLayout = new QHBoxLayout();
    fileSelectionLayout->addWidget(filePathEdit, 1);
    fileSelectionLayout->addWidget(browseButton);
    fileSelectionLayout->addWidget(browseFolderButton);
    mainLayout->addLayout(fileSelectionLayout);
}

// Target version, the image and the run settings on the left; the
// options, caption before box, at the right end.
void MainWindow::buildOptionsRow(QVBoxLayout *mainLayout)
{
    QVBoxLayout *versionLayout = new QVBoxLayout();
    versionLabel = named(new QLabel("Target Version: (none)"), "versionLabel");
    imageLabel = named(new QLabel(), "imageLabel");
    versionLayout->addWidget(versionLabel);
    versionLayout->addWidget(imageLabel);
    QHBoxLayout *checkboxLayout = new QHBoxLayout();
    QVBoxLayout *checkboxVerticalLayout = new QVBoxLayout();
    checkboxVerticalLayout->setSpacing(0);
    versionLayout->setSpacing(0);
    forceUpdateLabel = named(new QLabel(QString::fromUtf8(" Skip Version Check\xEF\xBC\x9A ")),
                             "forceUpdateLabel");
    forceUpdateCheckBox = named(new QCheckBox(), "forceUpdateCheckBox");
    fileUpdateLabel = named(
        new QLabel(QString::fromUtf8(" Apply Update to selected Fixtures\xEF\xBC\x9A ")),
        "fileUpdateLabel");
    fileUpdateCheckBox = named(new QCheckBox(), "fileUpdateCheckBox");
    checkboxVerticalLayout->addLayout(optionRow(forceUpdateLabel, forceUpdateCheckBox));
    checkboxVerticalLayout->addLayout(optionRow(fileUpdateLabel, fileUpdateCheckBox));
    // One lumiload for all the chosen fixtures, confirming each one's new
    // version; off until the operator chooses it, then remembered.
    parallelCheckBox = named(new QCheckBox("Update fixtures in parallel"), "parallelCheckBox");
    parallelCheckBox->setChecked(storedSetting("parallelUpdates").toBool());
    connect(parallelCheckBox, &QCheckBox::toggled, this, [](bool on) { storeSetting("parallelUpdates", on); });
    // The style draws a box's frame a shade darker than the window colour:
    // on the dark palette it would vanish, so these boxes get a light one.
    for (QCheckBox *box : {forceUpdateCheckBox, fileUpdateCheckBox, parallelCheckBox}) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Window, QColor(190, 190, 190));
        box->setPalette(palette);
    }
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
    connect(deviceTable, &QTableWidget::cellDoubleClicked, this, &MainWindow::showFixtureDetails);
    mainLayout->addWidget(deviceTable, 1);
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
    runSettingsButton = named(new QPushButton("Run Settings..."), "runSettingsButton");
    buildRunSettings();
    saveReportButton = named(new QPushButton("Save Report..."), "saveReportButton");
    saveReportButton->setEnabled(false);
    connect(saveReportButton, &QPushButton::clicked, this, &MainWindow::saveReport);
    stopButton = named(new QPushButton("Stop after this fixture"), "stopButton");
    stopButton->hide();
    connect(stopButton, &QPushButton::clicked, this, &MainWindow::stopAfterThisFixture);
    QHBoxLayout *bottombuttonLayout = new QHBoxLayout();
    bottombuttonLayout->addWidget(selectAllButton);
    bottombuttonLayout->addWidget(runSettingsButton);
    bottombuttonLayout->addWidget(saveReportButton);
    bottombuttonLayout->addWidget(stopButton);
    bottombuttonLayout->addWidget(runButton);
    mainLayout->addLayout(bottombuttonLayout);
}

// The state of the latest run, and a busy sign while a discovery listens.
void MainWindow::buildStatusBar()
{
    statusLabel = named(new QLabel(), "statusLabel");
    busyIndicator = named(new QProgressBar(), "busyIndicator");
    busyIndicator->setRange(0, 0);
    busyIndicator->setMaximumWidth(120);
    busyIndicator->hide();
    statusBar()->addWidget(statusLabel, 1);
    statusBar()->addPermanentWidget(busyIndicator);
}
