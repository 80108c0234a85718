// The network check: one `lumiload -N -j -s <address>` child that reports
// what stands between the computer and an update on one interface, and
// the words in which the window tells the operator each finding and its
// fix.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;

// One check-problem line: its kind, the address it concerns (may be empty)
// and lumiload's own text and fix.
struct CheckFinding {
    QString kind;
    QString address;
    QString text;
    QString fix;
};

struct NetworkCheckResult {
    QString chosen;     // "eth0 (2.0.0.1)": the interface a run would use; empty when none
    int fixtures = 0;   // fixtures answering on the interfaces checked
    QList<CheckFinding> findings;
    QStringList errors;     // the error lines, e.g. who holds port 6454
    QString firewall;       // what the firewall check said, when it could check
    bool complete = false;  // the check-end line came
};

// Reads a check's JSON Lines; lines of other types, and any that are not
// JSON objects, are passed over.
NetworkCheckResult readNetworkCheck(const QByteArray &jsonLines);

// A finding as the operator reads it: what is wrong, and what to do.
struct OperatorFinding {
    QString problem;
    QString fix;
};
// `errors` are the check's error lines, which name a program holding the
// port. A kind the window does not know is shown in lumiload's words.
OperatorFinding explainFinding(const CheckFinding &finding, const QStringList &errors);

class NetworkCheckJob : public QObject
{
    Q_OBJECT

public:
    explicit NetworkCheckJob(QObject *parent);

    // Starts the check of `interfaceAddress` unless one runs already, and
    // waits up to UploadJob::startTimeout() for it to run.
    bool start(const QString &program, const QString &interfaceAddress);
    bool isRunning() const;
    // Ends a running check at once: it only polls and listens.
    void stop();
    QString interfaceAddress() const { return m_interface; }
    const NetworkCheckResult &result() const { return m_result; }

signals:
    // The child ended; `failure` is empty when its report was complete,
    // else why the check could not be made, in words for the operator.
    void finished(const QString &failure);

private slots:
    void processEnded();

private:
    QProcess *m_process;
    QByteArray m_output;
    QString m_interface;
    NetworkCheckResult m_result;
};
