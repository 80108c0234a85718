// What the window knows about a fixture, as data: what discovery reported,
// where its upload stands, and what became of it; and the paperwork of a
// run (its summary and its CSV). Views draw these; no decision reads their
// words back. QtCore only.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// One fixture of a discovery report, as the table shows it.
struct DiscoveredFixture {
    QString name;
    QString ip;
    QString version;
    quint16 estaCode = 0;   // as reported; 0 when the block lacks it
    quint16 oemCode = 0;
};

// A fixture's state in the window: while an upload runs, and the outcome
// it leaves. A row shows it; a result keeps one of the outcomes.
enum class FixtureState {
    Idle,               // nothing this run, or waiting its turn
    Running,
    WaitingForRestart,  // took the image; its new version is awaited
    Stuck,              // silent part way while its child runs: waiting for a reply, not failed
    Updated,
    Confirmed,          // updated, and it reported the image's version after its restart
    SkippedAsCurrent,
    DoesNotFit,
    ImageConflict,      // a firmware folder holds two different images of the best version for it
    Failed,             // with its reason
    NotStarted,
    VersionChanged,     // a later discovery reports another version than the update confirmed
};

// Where one fixture's upload stands, as its child reported it.
struct FixtureProgress {
    FixtureState state = FixtureState::Running;
    int blockCount = 0;   // 0 until known
    int blocks = 0;       // accepted; all of them only once it succeeded
    int attempt = 1;      // at the block in hand, from 1
};

struct FixtureResult {
    using Outcome = FixtureState;
    QString ip;
    QString name;
    QString versionBefore;
    QString versionAfter;     // what the fixture reported after its restart, if it did
    Outcome outcome = Outcome::Idle;
    QString reason;           // why it failed, was skipped or was not started
    bool touched = false;     // a block went to the fixture
    double seconds = 0;
    QString log;              // both streams of its child
    int retries = 0;          // failed attempts at its blocks
    QString image;            // the file of its image, in a run with a firmware folder
    QString imageVersion;

    bool updated() const { return outcome == Outcome::Updated || outcome == Outcome::Confirmed; }
};

// "Update finished: 3 updated, 1 skipped as current, 1 failed." and the
// like, with those the image does not fit and those not started when any.
QString summaryLine(const QList<FixtureResult> &results);
// One line per failed fixture: its address, name (and with `withImage`
// its image file) and reason.
QStringList failureLines(const QList<FixtureResult> &results, bool withImage = false);
// One update run of the session: when, with which image, through which
// interface, how long it took and what became of each fixture.
struct RunRecord {
    QDateTime started;
    QString imageName;
    QString imageVersion;
    QString interfaceAddress;
    double seconds = 0;
    QList<FixtureResult> results;
};

// The session's runs as CSV, one row per fixture of each run, for the
// rig's paperwork; the last two columns name the fixture's own image (file
// and version) when its run took a firmware folder.
bool writeCsvReport(const QString &path, const QList<RunRecord> &runs, QString *error);
// "1 fixture", "3 fixtures".
QString fixtureCount(int count);
// "about 1 min 5 s" for a count of seconds.
QString durationText(int seconds);
