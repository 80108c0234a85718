// One fixture's upload: the lumiload child that writes its firmware, the
// timer that notices when that child falls silent, and the progress read
// from its output. The window wires a job to the fixture's row.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "UpdaterOutput.h"

class QProcess;
class QTimer;

class UploadJob : public QObject
{
    Q_OBJECT

public:
    UploadJob(const QString &ip, QObject *parent);

    // Starts the child and waits up to startTimeout() for it to run.
    bool start(const QString &program, const QStringList &arguments);
    // Runs a nested event loop until the child has ended and its verdict
    // is known; the job's signals are delivered meanwhile.
    void waitForEnd();

    QString ip() const { return m_ip; }
    const UploadProgress &progress() const { return m_progress; }
    bool hasEnded() const { return m_ended; }
    // The fixture took the image only if its child printed the success
    // line before it ended; an error, a crash or silence is a failure.
    bool succeeded() const { return m_ended && m_progress.succeeded(); }

    // How long a start may take, and how long the child may stay silent
    // before the job reports it stuck (defaults 30000 and 5000 ms).
    static int startTimeout();
    static int stuckTimeout();
    static void setTimeouts(int startMs, int stuckMs);

signals:
    // A piece of the child's standard output, already taken into progress().
    void outputRead(const QString &output);
    // No output for stuckTimeout() since the last piece without success.
    void stuck();
    // The child has ended; succeeded() holds the verdict.
    void ended();

private slots:
    void readOutput();
    void processEnded();

private:
    QString m_ip;
    QProcess *m_process;
    QTimer *m_stuckTimer;
    UploadProgress m_progress;
    bool m_ended = false;
};
