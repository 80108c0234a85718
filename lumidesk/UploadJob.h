// One lumiload child of an upload run and the fixtures it updates: one
// fixture with the sequential report, or many at once in a parallel run
// whose event lines each name their fixture. The job owns the child, a
// stuck timer per fixture and each fixture's progress, and tells the run
// what happened: each fixture's progress as it changes, parsed.
#pragma once

#include <QMap>
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
    UploadJob(const QStringList &ips, bool parallel, QObject *parent);

    // Starts the child and waits up to startTimeout() for it to run.
    bool start(const QString &program, const QStringList &arguments);
    // Runs a nested event loop until the child has ended and every
    // fixture's verdict is known; the job's signals are delivered meanwhile.
    void waitForEnd();

    // Asks a child started with -S to start no new fixture; those in
    // flight go on to their end.
    void requestStop();

    const QStringList &ips() const { return m_ips; }
    const UploadProgress &progress(const QString &ip) const { return m_fixtures.constFind(ip)->progress; }
    bool hasEnded() const { return m_ended; }
    // A fixture took the image only if the child said so before it ended:
    // the success line, or its confirmation in a parallel run.
    bool succeeded(const QString &ip) const { return progress(ip).succeeded(); }

    // How long a start may take, and how long a fixture's upload may stay
    // silent before it is reported stuck (defaults 30000 and 5000 ms).
    static int startTimeout();
    static int stuckTimeout();
    static void setTimeouts(int startMs, int stuckMs);

signals:
    // Where the fixture's upload stands, after each piece of output about
    // it and when it is found stuck.
    void progressed(const QString &ip, const FixtureProgress &progress);
    // The fixture fell silent part way: no output about it for
    // stuckTimeout() while it uploads, with some but not all of its blocks
    // accepted. It shows as stuck until its upload goes on to a later state;
    // its verdict still comes when the child ends.
    void stuck(const QString &ip);
    // The fixture's outcome is known: its last event came, or the child ended.
    void settled(const QString &ip);
    void ended();

private slots:
    void readOutput();
    void processEnded();

private:
    struct Fixture {
        UploadProgress progress;
        QTimer *stuckTimer = nullptr;
        bool settled = false;
        bool stuck = false;
        FixtureProgress shown() const;
    };
    void route(const QStringList &lines);
    void took(const QString &ip);
    void fellSilent(const QString &ip);

    QStringList m_ips;
    bool m_parallel;
    QProcess *m_process;
    QMap<QString, Fixture> m_fixtures;
    LineBuffer m_lines;   // of a parallel run's events
    bool m_ended = false;
};
