// The window's network check: a dialog of its own, which does not hold up
// the main window, listing each finding of a check in the operator's words
// with its fix, or saying that nothing stands in the way of an update.
#pragma once

#include <QDialog>
#include <QString>

class NetworkCheckJob;
class QLabel;
class QListWidget;
class QProgressBar;

class NetworkCheckDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NetworkCheckDialog(QWidget *parent);

    // Shows the dialog and starts the check of `interfaceAddress`; `reason`
    // says why the window checks when the operator did not ask. False, with
    // the dialog saying so, when the child could not start.
    bool run(const QString &program, const QString &interfaceAddress, const QString &reason = QString());
    bool isRunning() const;
    // Ends a running check at once.
    void stop();

signals:
    // The check's lumiload holds port 6454 from started() to ended().
    void started();
    void ended();

private slots:
    void showResult(const QString &failure);

private:
    NetworkCheckJob *m_job;
    QLabel *m_reason;
    QLabel *m_summary;
    QListWidget *m_findings;
    QLabel *m_details;
    QProgressBar *m_busy;
};
