#include "UploadRun.h"

#include <QDebug>
#include <QTimer>

#include "UploadJob.h"

static int s_statusIntervalMs = 1000;

void UploadRun::setStatusIntervalMs(int ms)
{
    s_statusIntervalMs = ms;
}

UploadRun::UploadRun(const QString &program, const QStringList &arguments,
                     const QString &imageVersion, QObject *parent)
    : QObject(parent), m_program(program), m_arguments(arguments), m_imageVersion(imageVersion),
      m_statusTimer(new QTimer(this))
{
    connect(m_statusTimer, &QTimer::timeout, this, [this]() { emit statusChanged(statusText()); });
}

void UploadRun::addFixture(const QString &ip, const QString &name, const QString &versionBefore,
                           const QString &image, const QString &imageVersion)
{
    FixtureResult result;
    result.image = image;
    result.imageVersion = imageVersion;
    result.ip = ip;
    result.name = name;
    result.versionBefore = versionBefore;
    m_results.append(result);
}

void UploadRun::stopAfterCurrent()
{
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    if (isParallel() && m_job)
        m_job->requestStop();
    emit statusChanged(statusText());
}

int UploadRun::secondsLeft() const
{
    return m_timeLeft ? m_timeLeft->secondsLeft(m_clock.elapsed()) : -1;
}

QString UploadRun::statusText() const
{
    if (m_current < 0)
        return QString();
    const int left = secondsLeft();
    const QString timeLeft = left < 0 ? QString() : ", up to " + durationText(left) + " left";
    if (isParallel())
        return QString("Updating %1 in parallel: %2 done%3%4")
            .arg(fixtureCount(count()))
            .arg(m_settled)
            .arg(timeLeft, m_stopRequested ? "; stopping: no more fixtures start" : "");
    const bool restarting =
        m_job && m_job->progress(m_results[m_current].ip).state() == FixtureState::WaitingForRestart;
    return QString("Fixture %1 of %2 (%3)%4%5%6")
        .arg(m_current + 1)
        .arg(count())
        .arg(m_results[m_current].ip, restarting ? ": waiting for its restart" : "", timeLeft,
             m_stopRequested ? "; stopping after this fixture" : "");
}

// The job's progress goes on to the window as it is, with the status line.
void UploadRun::follow(UploadJob *job)
{
    connect(job, &UploadJob::progressed, this, [this](const QString &ip, const FixtureProgress &progress) {
        m_timeLeft->progressed(ip, progress, m_clock.elapsed());
        emit progressed(ip, progress);
        // A parallel run's blocks come by the thousand; its status line
        // follows the one-second refresh, and every fixture's end.
        if (!isParallel())
            emit statusChanged(statusText());
    });
    connect(job, &UploadJob::stuck, this, &UploadRun::stuck);
}

void UploadRun::settle(FixtureResult *result, const UploadJob &job)
{
    const UploadProgress &progress = job.progress(result->ip);
    result->outcome = progress.state();
    result->reason = progress.reason();
    result->touched = progress.touched();
    result->log = progress.log();
    result->retries = progress.retries();
    result->versionAfter = progress.reportedVersion();
    if (!progress.image().isEmpty())
        result->image = progress.image();   // the one lumiload took
    result->seconds = m_clock.elapsed() / 1000.0 - result->seconds;
    m_failed += result->outcome == FixtureState::Failed ? 1 : 0;
    ++m_settled;
    m_timeLeft->settled(result->ip);
}

QStringList UploadRun::confirmArguments() const
{
    QStringList arguments{"-c"};
    if (m_limits.restartWait > 0)
        arguments << "-w" << QString::number(m_limits.restartWait);
    if (m_limits.retries > 0)
        arguments << "-r" << QString::number(m_limits.retries);
    return arguments;
}

void UploadRun::run()
{
    m_clock.start();
    const int restartWait = m_limits.restartWait > 0 ? m_limits.restartWait : kDefaultRestartWait;
    m_timeLeft = std::make_unique<TimeLeft>(count(), isParallel(), restartWait * 1000);
    m_statusTimer->start(s_statusIntervalMs);
    if (isParallel())
        runParallel();
    else
        runOneByOne();
    m_statusTimer->stop();
}

void UploadRun::runOneByOne()
{
    int groupFailed = 0;
    for (int i = 0; i < m_results.size(); ++i) {
        FixtureResult &result = m_results[i];
        if (i == m_testGroup)
            groupFailed = m_failed;
        const bool limitReached = m_limits.failureLimit > 0 && m_failed >= m_limits.failureLimit;
        if (m_stopRequested || limitReached || groupFailed > 0) {
            result.outcome = FixtureResult::Outcome::NotStarted;
            m_timeLeft->settled(result.ip);
            result.reason = groupFailed > 0 ? testGroupReason(groupFailed, m_testGroup)
                            : limitReached  ? failureLimitReason(m_failed)
                                            : stoppedReason();
            emit fixtureEnded(result.ip, result);
            continue;
        }
        m_current = i;
        result.outcome = FixtureResult::Outcome::Running;
        result.seconds = m_clock.elapsed() / 1000.0;
        emit fixtureStarted(result.ip, i);
        emit statusChanged(statusText());

        const QString ip = result.ip;
        m_job = new UploadJob({ip}, false, this);
        follow(m_job);
        const QStringList arguments = m_arguments + confirmArguments() + QStringList{"-d", ip};
        const bool started = m_job->start(m_program, arguments);
        qDebug() << "Running process:" << m_program << arguments;
        if (started) {
            m_job->waitForEnd();
            settle(&result, *m_job);
        } else {
            m_timeLeft->settled(ip);
            result.outcome = FixtureResult::Outcome::Failed;
            result.reason = "lumiload could not be started. Nothing was sent to the fixture.";
        }
        m_job->deleteLater();
        m_job = nullptr;
        if (!started)
            emit startFailed(ip);
        emit fixtureEnded(ip, result);
    }
    m_current = -1;
}

// One lumiload updates every fixture, keeping up to the chosen number of
// transfers in flight, and confirms each by the version it reports after
// its restart. Each fixture is reported as soon as its outcome is known.
void UploadRun::runParallel()
{
    if (m_results.isEmpty())
        return;
    QStringList ips;
    for (FixtureResult &result : m_results) {
        result.outcome = FixtureResult::Outcome::Running;
        ips << result.ip;
    }
    m_current = 0;
    m_job = new UploadJob(ips, true, this);
    follow(m_job);
    connect(m_job, &UploadJob::settled, this, [this](const QString &ip) {
        for (FixtureResult &result : m_results)
            if (result.ip == ip)
                settle(&result, *m_job), emit fixtureEnded(ip, result), emit statusChanged(statusText());
    });
    QStringList arguments = m_arguments + QStringList{"-p", QString::number(qMin(m_inFlight, int(ips.size())))} +
                            confirmArguments();
    if (m_limits.failureLimit > 0)
        arguments << "-k" << QString::number(m_limits.failureLimit);
    if (m_testGroup > 0)
        arguments << "-n" << QString::number(qMin(m_testGroup, int(ips.size())));
    // Told to stop, the child starts no new fixture and lets those in
    // flight finish.
    arguments << "-u" << ips.join(',') << "-S";
    emit fixtureStarted(ips.first(), 0);
    emit statusChanged(statusText());
    const bool started = m_job->start(m_program, arguments);
    qDebug() << "Running process:" << m_program << arguments;
    if (started)
        m_job->waitForEnd();
    m_job->deleteLater();
    m_job = nullptr;
    if (!started) {
        for (FixtureResult &result : m_results) {
            result.outcome = FixtureResult::Outcome::Failed;
            result.reason = "lumiload could not be started. Nothing was sent to the fixture.";
            emit fixtureEnded(result.ip, result);
        }
        emit startFailed(ips.join(", "));
    }
    m_current = -1;
}

UploadPlan planUploads(const QList<DiscoveredFixture> &selected, const FirmwareImage &image, bool force)
{
    UploadPlan plan;
    const QString target = versionText(image.version);
    for (const DiscoveredFixture &fixture : selected) {
        quint16 version = 0;
        const bool fits = image.fits(fixture.estaCode, fixture.oemCode);
        const bool current = parseVersionText(fixture.version, &version) && version == image.version;
        qDebug() << "target :" << target << "device :" << fixture.version;
        if (fits && (!current || force)) {
            plan.toUpdate.append(fixture);
            if (current)
                plan.reflashed.append(fixture);
            else if (parseVersionText(fixture.version, &version) && version > image.version)
                plan.downgraded.append(fixture);
            continue;
        }
        FixtureResult result;
        result.ip = fixture.ip;
        result.name = fixture.name;
        result.versionBefore = fixture.version;
        result.outcome = fits ? FixtureState::SkippedAsCurrent : FixtureState::DoesNotFit;
        result.reason = fits ? "Skipped: it already runs v" + target : "Skipped: the image does not fit it";
        plan.skipped.append(result);
        ++(fits ? plan.current : plan.notFitting);
    }
    return plan;
}

UploadPlan planLibraryUploads(const QList<DiscoveredFixture> &selected, const QHash<QString, PlannedImage> &planned,
                              bool force)
{
    UploadPlan plan;
    plan.library = true;
    for (const DiscoveredFixture &fixture : selected) {
        const auto found = planned.constFind(fixture.ip);
        const bool named = found != planned.constEnd();
        const PlannedImage image = named ? *found : PlannedImage();
        quint16 version = 0, imageVersion = 0;
        const bool known = parseVersionText(fixture.version, &version);
        const bool current = image.hasImage() && parseVersionText(image.version, &imageVersion) && known &&
                             version == imageVersion;
        const QString model = QString("OEM 0x%1").arg(fixture.oemCode, 4, 16, QChar('0')) +
                              (image.hasImage() ? ", " + image.file + " " + image.version : QString());
        QMap<QString, int> &counts = plan.byModel[model];
        if (image.hasImage())
            plan.images.insert(fixture.ip, image);
        if (image.hasImage() && (!current || force)) {
            plan.toUpdate.append(fixture);
            if (current)
                plan.reflashed.append(fixture);
            else if (known && version > imageVersion)
                plan.downgraded.append(fixture);
            ++counts[current ? "flash again" : known && version > imageVersion ? "downgrade" : "update"];
            continue;
        }
        ++counts[current                                             ? "current"
                 : image.action == PlannedImage::Action::Conflict    ? "conflict"
                 : named                                              ? "no image"
                                                                      : "not planned"];
        FixtureResult result;
        result.ip = fixture.ip;
        result.name = fixture.name;
        result.versionBefore = fixture.version;
        result.image = image.file;
        result.imageVersion = image.version;
        if (current) {
            result.outcome = FixtureState::SkippedAsCurrent;
            result.reason = "Skipped: it already runs v" + image.version + ", the version of " + image.file;
            ++plan.current;
        } else if (image.action == PlannedImage::Action::Conflict) {
            result.outcome = FixtureState::ImageConflict;
            result.reason = "Skipped: image conflict: " + image.why + ". Nothing was sent to the fixture.";
            ++plan.conflicts;
        } else {
            result.outcome = FixtureState::DoesNotFit;
            result.reason = named ? "Skipped: no image of the firmware folder fits it (" + image.why + ")"
                                  : "Skipped: the latest discovery with this firmware folder did not plan it; "
                                    "discover again to see which image it gets";
            ++plan.notFitting;
        }
        plan.skipped.append(result);
    }
    return plan;
}
