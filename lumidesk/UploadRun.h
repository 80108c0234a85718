// An upload run: the fixtures the operator chose, updated one after the
// other, each by its own lumiload child (an UploadJob), or all by one
// lumiload that keeps several transfers in flight and confirms each
// fixture's new version; and what became of each. The window decides which
// fixtures go in and shows what the run reports. QtCore only.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <QHash>
#include <QMap>

#include "FirmwareImage.h"
#include "FirmwareLibrary.h"
#include "FixtureResults.h"
#include "TimeLeft.h"

#include <memory>

class QTimer;
class UploadJob;

// lumiload's wait for a fixture's restart when -w is not given, in seconds.
static const int kDefaultRestartWait = 60;

// What the operator set for update runs; 0 leaves lumiload's default.
struct UploadLimits {
    int retries = 0;        // -r: further tries of a fixture whose upload failed
    int restartWait = 0;    // -w: seconds a fixture may take to come back
    int failureLimit = 0;   // -k: start no new fixture once this many failed
};

class UploadRun : public QObject
{
    Q_OBJECT

public:
    // Each child gets `arguments` followed by "-d" and its fixture.
    UploadRun(const QString &program, const QStringList &arguments, const QString &imageVersion,
              QObject *parent);

    // `image` and `imageVersion` name the fixture's own image in a run with
    // a firmware folder.
    void addFixture(const QString &ip, const QString &name, const QString &versionBefore,
                    const QString &image = QString(), const QString &imageVersion = QString());
    // With `inFlight` > 0 one child updates every fixture, that many at once,
    // and each counts as updated only once it reports the image's version
    // after its restart.
    void setParallel(int inFlight) { m_inFlight = inFlight; }
    void setLimits(const UploadLimits &limits) { m_limits = limits; }
    // With `count` > 0 the first `count` fixtures are a test group: they are
    // updated and confirmed before any other starts, and if one of them
    // failed no other starts. One by one that is the first `count` children;
    // in parallel the child is told with -n.
    void setTestGroup(int count) { m_testGroup = count; }
    bool isParallel() const { return m_inFlight > 0; }
    // Updates the fixtures; returns when the last child has ended, or the
    // one running when stopAfterCurrent() was asked for.
    void run();
    // Lets the running upload finish and starts no more; the rest are
    // reported as not started. Never stops a child part way: a parallel
    // run's child is told to start no new fixture (-S) and finishes those
    // in flight, restarts and confirmations included.
    void stopAfterCurrent();
    bool stopRequested() const { return m_stopRequested; }

    int count() const { return m_results.size(); }
    int currentIndex() const { return m_current; }   // -1 before and after
    int settledCount() const { return m_settled; }
    const QList<FixtureResult> &results() const { return m_results; }
    // Time left by the pace of the blocks accepted so far, with the restart
    // waits still possible (TimeLeft); -1 while unknown.
    int secondsLeft() const;
    // Where the run stands, for the status line: "Fixture 3 of 6 (2.0.0.7),
    // up to 3 min 12 s left" or, in parallel, how many are done, and that
    // the run is stopping once asked to; empty when no fixture runs.
    QString statusText() const;
    // How often the status line is renewed while nothing is reported, so
    // that the time left counts down (default 1000 ms).
    static void setStatusIntervalMs(int ms);

signals:
    void fixtureStarted(const QString &ip, int index);
    void progressed(const QString &ip, const FixtureProgress &progress);
    // statusText() after a fixture started or made progress.
    void statusChanged(const QString &text);
    void stuck(const QString &ip);
    void startFailed(const QString &ip);
    void fixtureEnded(const QString &ip, const FixtureResult &result);

private:
    void runOneByOne();
    void runParallel();
    void follow(UploadJob *job);
    void settle(FixtureResult *result, const UploadJob &job);
    // Every child confirms each fixture's version after its restart, with
    // the restart wait and retries the operator set.
    QStringList confirmArguments() const;
    int m_failed = 0;
    int m_testGroup = 0;
    UploadLimits m_limits;

    QString m_program;
    QStringList m_arguments;
    QString m_imageVersion;
    QList<FixtureResult> m_results;
    int m_current = -1;
    int m_inFlight = 0;
    int m_settled = 0;
    bool m_stopRequested = false;
    UploadJob *m_job = nullptr;
    QElapsedTimer m_clock;
    std::unique_ptr<TimeLeft> m_timeLeft;
    QTimer *m_statusTimer;
};

// What a run will do with the selected fixtures: update those the image
// fits and that do not run its version already (unless forced); the others
// are skipped, with their reason, and nothing is sent to them.
struct UploadPlan {
    QList<DiscoveredFixture> toUpdate;
    QList<FixtureResult> skipped;
    int current = 0;       // skipped as running the image's version
    int notFitting = 0;    // skipped as the image does not fit them
    // Of toUpdate: those flashed again at the version they run (forced),
    // and those that run a newer version than the image's.
    QList<DiscoveredFixture> reflashed;
    QList<DiscoveredFixture> downgraded;
    // Of toUpdate, filled by the window: those its latest discovery missed.
    QList<DiscoveredFixture> notSeen;
    // With a firmware folder: each fixture's image by its address (those
    // skipped included, when they have one), and the fixtures of the run
    // that lumiload's plan gives an ambiguous image or none.
    bool library = false;
    QHash<QString, PlannedImage> images;
    int conflicts = 0;
    // By model ("OEM 0x0101, spot.alf 1.0.7"): how many fixtures of each
    // action ("update", "downgrade", "flash again", "current", "no image",
    // "conflict", "not planned").
    QMap<QString, QMap<QString, int>> byModel;
    // Of toUpdate, the first ones, updated as a test before the others.
    int testGroup = 0;
};
UploadPlan planUploads(const QList<DiscoveredFixture> &selected, const FirmwareImage &image, bool force);
// The same for a firmware folder: each fixture with the image lumiload's
// plan gives it (`planned`, by address). A fixture no plan names, one that
// no image fits and one whose image is ambiguous are skipped with their
// reason.
UploadPlan planLibraryUploads(const QList<DiscoveredFixture> &selected, const QHash<QString, PlannedImage> &planned,
                              bool force);

