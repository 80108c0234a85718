// The one window of lumidesk: chooses the interface and the firmware file,
// lists the fixtures that a discovery run of ./lumiload reports, and updates
// the selected ones, one ./lumiload child per fixture, with a progress bar
// per row.
#pragma once

#include <QHeaderView>
#include <QMainWindow>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QProcess;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;
class QWidget;

// Horizontal header of the fixture table: every press on it, whatever the
// button and the section, reports sectionClicked with the section under the
// pointer (-1 for none), on the press rather than the release.
class CustomHeaderView : public QHeaderView
{
    Q_OBJECT

public:
    CustomHeaderView(Qt::Orientation orientation, QWidget *parent);
    ~CustomHeaderView() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

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
    void refreshNICs();
    void updateCommandParameters();
    void selectAllCells(int index);
    void selectAllDevices();
    void updateProgressBar(const QString &output, const QString &ip);
    void updateDeviceTableBasedOnNIC(int);
    void addDeviceToTable(const QString &name, const QString &ip, const QString &version);
    void discoveryFinished();

private:
    void loadNetworkInterfaces();
    void resetProgressBars();

    // Discovery output is parsed line by line; a line and a fixture block
    // may span any number of reads of one discovery run.
    void parseDiscoveryOutput();
    void parseDiscoveryLine(const QString &line);
    // Upload output: the lines that decide the block count and success are
    // matched whole, however the pipe cut them.
    bool scanUploadLine(const QString &line, const QString &ip, QProgressBar *bar);
    void markUploadSucceeded(const QString &ip, QProgressBar *bar);
    // Verdict of one fixture once its process has ended.
    void finishUpload(QProcess *uploadProcess, const QString &ip);
    QProgressBar *progressBarFor(const QString &ip) const;
    struct PendingRow {
        QString name;
        QString ip;
        QString version;
    };
    void appendRows(const QList<PendingRow> &rows);
    void fitColumns();

    QProcess *process;
    QComboBox *nicComboBox;
    QPushButton *runButton;
    QPushButton *refreshButton;
    bool anyFailed;
    QLineEdit *filePathEdit;
    QPushButton *browseButton;
    QPushButton *selectAllButton;
    QLabel *logoLabel;
    QLabel *textLabel;
    QWidget *headingWidget;
    QLabel *fileUpdateLabel;
    QLabel *forceUpdateLabel;
    QLabel *versionLabel;
    QCheckBox *fileUpdateCheckBox;
    QCheckBox *forceUpdateCheckBox;
    QTableWidget *deviceTable;
    QMap<QString, int> totalBlockCountMap;
    QMap<QString, int> blockCountMap;
    QStringList currentArguments;
    QString lastDirectory;

    // Per fixture (IP text) of the current upload run.
    QMap<QString, QTimer *> timers;
    QMap<QString, QString> pendingUploadLine;
    QSet<QString> succeededIPs;
    bool uploadRunning = false;

    // State of the discovery run in progress, kept across reads.
    QByteArray discoveryPending;
    QString discoveryIP;
    QString discoveryName;
    QString discoveryVersion;
    bool discoveryEnded = false;
    bool discoveryParseScheduled = false;
    bool batchingRows = false;
    QList<PendingRow> pendingRows;
};
