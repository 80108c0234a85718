// A discovery: one lumiload child that lists the fixtures answering on an
// interface. The job owns the child and its parser, keeps the child's
// error lines and the set of fixtures it reported, and tells the window
// what it found and how it ended.
#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include "FixtureResults.h"
#include "UpdaterOutput.h"

class QProcess;

class DiscoveryJob : public QObject
{
    Q_OBJECT

public:
    explicit DiscoveryJob(QObject *parent);

    // Starts the child listening on `interfaceAddress` unless one runs
    // already, and waits up to UploadJob::startTimeout() for it to run.
    bool start(const QString &program, const QStringList &arguments, const QString &interfaceAddress);
    bool isRunning() const;
    // Ends a running child at once: a discovery only listens.
    void stop();

    QProcess *process() const { return m_process; }
    QString interfaceAddress() const { return m_interface; }
    // The fixtures the latest discovery reported.
    const QSet<QString> &seen() const { return m_seen; }

public slots:
    // Parses what the child has printed so far.
    void readOutput();

signals:
    void fixturesFound(const QList<DiscoveredFixture> &fixtures);
    // The plan of a discovery with a firmware folder: the image each
    // fixture gets, as lumiload decided.
    void fixturesPlanned(const QList<PlannedImage> &plan);
    // The child ended; `failure` says why the discovery failed, in words
    // for the operator, and is empty when it did not.
    void finished(const QString &failure);

private slots:
    void processEnded();

private:
    QProcess *m_process;
    DiscoveryParser *m_parser;
    LineBuffer m_errorLines;
    QStringList m_errors;
    QString m_interface;
    QSet<QString> m_seen;
    bool m_libraryListed = false;
};
