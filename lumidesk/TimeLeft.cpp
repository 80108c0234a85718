#include "TimeLeft.h"

#include <QtMath>

TimeLeft::TimeLeft(int fixtures, bool parallel, qint64 restartWaitMs)
    : m_fixtures(fixtures), m_parallel(parallel), m_restartWaitMs(restartWaitMs)
{
}

void TimeLeft::progressed(const QString &ip, const FixtureProgress &progress, qint64 nowMs)
{
    Fixture &fixture = m_seen[ip];
    if (progress.blocks > fixture.accepted && fixture.firstAcceptedMs < 0) {
        fixture.firstAcceptedMs = nowMs;
        fixture.acceptedAtFirst = progress.blocks;
    }
    if (progress.blocks > fixture.accepted)
        fixture.lastAcceptedMs = nowMs;
    if (progress.state == FixtureState::WaitingForRestart && fixture.waitBeganMs < 0)
        fixture.waitBeganMs = nowMs;
    fixture.accepted = qMax(fixture.accepted, progress.blocks);
    fixture.blockCount = progress.blockCount;
    fixture.state = progress.state;
    m_blockCount = qMax(m_blockCount, progress.blockCount);
}

void TimeLeft::settled(const QString &ip)
{
    m_seen[ip].settled = true;
}

// A fixture's own time: its blocks at the pace, counted down from its last
// accepted one, then its restart, counted down once it began.
qint64 TimeLeft::fixtureMsLeft(const Fixture &fixture, qint64 nowMs, qint64 paceMs) const
{
    if (fixture.settled)
        return 0;
    if (fixture.waitBeganMs >= 0)
        return qMax<qint64>(0, m_restartWaitMs - (nowMs - fixture.waitBeganMs));
    const int blockCount = fixture.blockCount > 0 ? fixture.blockCount : m_blockCount;
    const qint64 since = fixture.lastAcceptedMs >= 0 ? nowMs - fixture.lastAcceptedMs : 0;
    return qMax<qint64>(0, (blockCount - fixture.accepted) * paceMs - since) + m_restartWaitMs;
}

int TimeLeft::secondsLeft(qint64 nowMs) const
{
    // The pace: each fixture's time between its accepted blocks, over the
    // blocks accepted in that time; its start (a discovery) and its
    // restart are not in it.
    qint64 sendingMs = 0;
    int accepted = 0;
    for (const Fixture &fixture : m_seen) {
        sendingMs += fixture.lastAcceptedMs - fixture.firstAcceptedMs;
        accepted += fixture.accepted - fixture.acceptedAtFirst;
    }
    if (accepted == 0 || m_blockCount == 0)
        return -1;
    const qint64 paceMs = sendingMs / accepted;
    qint64 total = 0;
    for (const Fixture &fixture : m_seen) {
        const qint64 left = fixtureMsLeft(fixture, nowMs, paceMs);
        total = m_parallel ? qMax(total, left) : total + left;
    }
    const qint64 notStarted = m_blockCount * paceMs + m_restartWaitMs;
    for (int i = m_seen.size(); i < m_fixtures; ++i)
        total = m_parallel ? qMax(total, notStarted) : total + notStarted;
    return int(qCeil(total / 1000.0));
}
