// The one window of lumidesk: chooses the interface and the firmware file,
// lists the fixtures that a discovery run of ./lumiload reports, and updates
// the selected ones, one ./lumiload child per fixture, with a progress bar
// per row.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "FirmwareImage.h"
#include "FirmwareLibrary.h"
#include "FixtureResults.h"
#include "FixtureTable.h"
#include "UploadRun.h"

class DiscoveryJob;
class LocateJob;
class NetworkCheckDialog;
class UploadRun;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLabel;
class QMessageBox;
class QLineEdit;
class QProcess;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QVBoxLayout;
class QWidget;

// The lumiload to start: "./lumiload" when the working directory has it,
// else the one in programDirectory; when neither has it, "./lumiload",
// and `lookedIn` says where it was looked for.
QString findUpdater(const QString &workingDirectory, const QString &programDirectory, QString *lookedIn);

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

protected:
    // Refused while an upload run is in progress: a lumiload stopped in the
    // middle of writing a fixture's flash may leave it unable to boot.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void runCommand();
    void getVersion();
    void readProcessOutput();
    void browseFile();
    void browseFolder();
    void refreshNICs();
    void updateCommandParameters();
    void selectAllCells(int index);
    void selectAllDevices();
    void updateProgressBar(const QString &ip, const FixtureProgress &progress);
    void updateDeviceTableBasedOnNIC(int);
    void addDeviceToTable(const QString &name, const QString &ip, const QString &version);
    void discoveryFinished(const QString &failure);
    void stopAfterThisFixture();
    void saveReport();
    void showFixtureDetails(int row);
    void checkNetwork();
    void showRowMenu(const QPoint &position);

private:
    void loadNetworkInterfaces();
    void resetProgressBars();
    // The settings store, opened only here.
    static QVariant storedSetting(const QString &key);
    static void storeSetting(const QString &key, const QVariant &value);

    // The constructor's rows, top to bottom (MainWindowLayout.cpp).
    void buildHeading(QVBoxLayout *mainLayout);
    void buildInterfaceRow(QVBoxLayout *mainLayout);
    void buildFileRow(QVBoxLayout *mainLayout);
    void buildOptionsRow(QVBoxLayout *mainLayout);
    void buildTable(QVBoxLayout *mainLayout);
    void buildButtonRow(QVBoxLayout *mainLayout);
    void buildStatusBar();
    void buildRunSettings();
    QSpinBox *settingBox(const char *name, int minimum, int maximum, int initial, const QString &none,
                         const QString &key);

    // The retries, restart wait and failure limit the operator set.
    UploadLimits limits() const;
    QString updaterProgram(QString *lookedIn) const;
    // The address the chosen interface entry stands for.
    QString interfaceAddress() const;
    void selectPreferredInterface();
    // Reads and checks the file now shown; marks the rows it does not fit.
    // A folder is read as a firmware library instead: the plans of an
    // earlier discovery hold only while it holds the same images.
    bool checkImage(QString *problem);
    // A folder is shown instead of a file: lumiload takes it with -l.
    bool libraryChosen() const;
    void startDiscovery();
    void runUploads();
    void setControlsEnabled(bool enabled);
    void fixtureEnded(const QString &ip, const FixtureResult &result);
    void summariseRun();
    void addFixtures(const QList<DiscoveredFixture> &fixtures);
    // The network check and a row's locate (MainWindowNetwork.cpp).
    void buildNetworkTools();
    void checkAfterEmptyDiscovery(const QString &address);
    // Every fixture still locating back to normal; returns when done.
    void endLocates();
    // At the window's end: the check stopped, every locate ended.
    void endNetworkTools();

    DiscoveryJob *discovery;
    QProcess *process;   // the discovery's child
    QComboBox *nicComboBox;
    QPushButton *runButton;
    QPushButton *refreshButton;
    bool anyFailed;
    QLineEdit *filePathEdit;
    QPushButton *browseButton;
    QPushButton *browseFolderButton;
    QPushButton *selectAllButton;
    QLabel *logoLabel;
    QLabel *textLabel;
    QWidget *headingWidget;
    QLabel *fileUpdateLabel;
    QLabel *forceUpdateLabel;
    QLabel *versionLabel;
    QCheckBox *fileUpdateCheckBox;
    QCheckBox *forceUpdateCheckBox;
    FixtureTable *deviceTable;
    QMap<QString, int> totalBlockCountMap;
    QMap<QString, int> blockCountMap;
    QStringList currentArguments;
    QString lastDirectory;

    QLabel *imageLabel;
    QCheckBox *parallelCheckBox;
    QPushButton *runSettingsButton;
    QSpinBox *retriesSpinBox;
    QSpinBox *restartWaitSpinBox;
    QSpinBox *failureLimitSpinBox;
    QSpinBox *testGroupSpinBox;
    QPushButton *stopButton;
    QPushButton *saveReportButton;
    QLabel *statusLabel;
    QProgressBar *busyIndicator;

    FirmwareImage image;
    bool imageOk = false;
    // The folder now shown, and the one the latest discovery with a folder
    // planned from, as each was read.
    FirmwareLibrary library;
    bool libraryOk = false;
    FirmwareLibrary plannedLibrary;

    UploadRun *currentRun = nullptr;
    bool uploadRunning = false;
    QPointer<QMessageBox> closeNotice;   // while it is shown
    // The last upload run, fixture by fixture, skipped ones included.
    QList<FixtureResult> lastResults;
    // Every update run of this session, for its report.
    QList<RunRecord> sessionRuns;

    QPushButton *checkNetworkButton;
    NetworkCheckDialog *networkCheck;
    LocateJob *locator;
};
