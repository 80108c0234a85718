// How long an update run may still take: the blocks still to send at the
// pace of those accepted so far, and the restart waits still possible.
// Fed with each fixture's progress; times are milliseconds on the run's
// clock, handed in by the caller. QtCore only.
#pragma once

#include <QHash>
#include <QString>

#include "FixtureResults.h"

class TimeLeft
{
public:
    // `restartWaitMs`: how long each fixture may take to come back after
    // its last block. One after the other, the fixtures' times add up; in
    // parallel, they run side by side.
    TimeLeft(int fixtures, bool parallel, qint64 restartWaitMs);

    void progressed(const QString &ip, const FixtureProgress &progress, qint64 nowMs);
    void settled(const QString &ip);
    // -1 until a block has been accepted. Between two pieces of progress
    // the time counts down; it never grows while a block is retried, and
    // it stays at the waits still possible (a restart that may take the
    // full wait) rather than falling to 0 while they may still come.
    int secondsLeft(qint64 nowMs) const;

private:
    struct Fixture {
        FixtureState state = FixtureState::Running;
        int blockCount = 0;
        int accepted = 0;
        qint64 firstAcceptedMs = -1;  // when the first accepted blocks were reported
        int acceptedAtFirst = 0;      // how many they were
        qint64 lastAcceptedMs = -1;
        qint64 waitBeganMs = -1;      // its restart wait
        bool settled = false;
    };
    qint64 fixtureMsLeft(const Fixture &fixture, qint64 nowMs, qint64 paceMs) const;

    int m_fixtures;
    bool m_parallel;
    qint64 m_restartWaitMs;
    QHash<QString, Fixture> m_seen;
    int m_blockCount = 0;             // of the image, once known
};
