#include "UploadRun.h"

#include <QDebug>
#include <QFile>
#include <QTextStream>
#include <QtMath>

#include "UploadJob.h"

UploadRun::UploadRun(const QString &program, const QStringList &arguments,
                     const QString &imageVersion, QObject *parent)
    : QObject(parent), m_program(program), m_arguments(arguments), m_imageVersion(imageVersion)
{
}

void UploadRun::addFixture(const QString &ip, const QString &name, const QString &versionBefore)
{
    FixtureResult result;
    result.ip = ip;
    result.name = name;
    result.versionBefore = versionBefore;
    m_results.append(result);
}

void UploadRun::stopAfterCurrent()
{
    m_stopRequested = true;
}

const UploadProgress *UploadRun::progressOf(const QString &ip) const
{
    return m_job && m_job->ips().contains(ip) ? &m_job->progress(ip) : nullptr;
}

// By the pace of the blocks accepted so far in the whole run: the blocks
// still to send, at that pace.
int UploadRun::secondsLeft() const
{
    if (!m_job)
        return -1;
    int done = 0;
    int blockCount = m_blockCount;
    for (const QString &ip : m_job->ips()) {
        done += m_job->progress(ip).acceptedBlocks();
        blockCount = qMax(blockCount, m_job->progress(ip).blockCount());
    }
    const int accepted = m_blocksBefore + done;
    if (accepted == 0 || blockCount == 0)
        return -1;
    const int waiting = isParallel() ? 0 : m_results.size() - m_current - 1;
    const int remaining = blockCount * (m_job->ips().size() + waiting) - done;
    return qCeil(m_clock.elapsed() / 1000.0 / accepted * remaining);
}

QString UploadRun::statusText() const
{
    if (m_current < 0)
        return QString();
    const int left = secondsLeft();
    const QString timeLeft = left < 0 ? QString() : ", about " + durationText(left) + " left";
    if (isParallel())
        return QString("Updating %1 fixtures in parallel: %2 done%3").arg(count()).arg(m_settled).arg(timeLeft);
    return QString("Fixture %1 of %2 (%3)%4")
        .arg(m_current + 1)
        .arg(count())
        .arg(m_results[m_current].ip)
        .arg(timeLeft);
}

void UploadRun::settle(FixtureResult *result, const UploadJob &job)
{
    const UploadProgress &progress = job.progress(result->ip);
    const bool notStarted = progress.reason().startsWith("Not started");
    result->outcome = job.succeeded(result->ip) ? FixtureResult::Outcome::Updated
                      : notStarted              ? FixtureResult::Outcome::NotStarted
                                                : FixtureResult::Outcome::Failed;
    result->reason = progress.reason();
    result->touched = progress.touched();
    result->log = progress.log();
    if (job.succeeded(result->ip))
        result->versionAfter = isParallel() ? progress.confirmedVersion() : m_imageVersion;
    result->seconds = m_clock.elapsed() / 1000.0 - result->seconds;
    ++m_settled;
}

void UploadRun::run()
{
    m_clock.start();
    if (isParallel()) {
        runParallel();
        return;
    }
    for (int i = 0; i < m_results.size(); ++i) {
        FixtureResult &result = m_results[i];
        if (m_stopRequested) {
            result.outcome = FixtureResult::Outcome::NotStarted;
            result.reason = "Not started: the run was stopped. Nothing was sent to the fixture.";
            emit fixtureEnded(result.ip, result);
            continue;
        }
        m_current = i;
        result.outcome = FixtureResult::Outcome::Running;
        result.seconds = m_clock.elapsed() / 1000.0;
        emit fixtureStarted(result.ip, i);

        const QString ip = result.ip;
        m_job = new UploadJob({ip}, false, this);
        connect(m_job, &UploadJob::outputRead, this, &UploadRun::outputRead);
        connect(m_job, &UploadJob::stuck, this, &UploadRun::stuck);
        const QStringList arguments = m_arguments + QStringList{"-d", ip};
        const bool started = m_job->start(m_program, arguments);
        qDebug() << "Running process:" << m_program << arguments;
        if (started) {
            m_job->waitForEnd();
            settle(&result, *m_job);
            m_blocksBefore += m_job->progress(ip).acceptedBlocks();
            m_blockCount = qMax(m_blockCount, m_job->progress(ip).blockCount());
        } else {
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
    QStringList ips;
    for (FixtureResult &result : m_results) {
        result.outcome = FixtureResult::Outcome::Running;
        ips << result.ip;
    }
    m_current = 0;
    m_job = new UploadJob(ips, true, this);
    connect(m_job, &UploadJob::outputRead, this, &UploadRun::outputRead);
    connect(m_job, &UploadJob::stuck, this, &UploadRun::stuck);
    connect(m_job, &UploadJob::settled, this, [this](const QString &ip) {
        for (FixtureResult &result : m_results)
            if (result.ip == ip)
                settle(&result, *m_job), emit fixtureEnded(ip, result);
    });
    const QStringList arguments = m_arguments + QStringList{"-p", QString::number(qMin(m_inFlight, int(ips.size()))),
                                                            "-c", "-u", ips.join(',')};
    emit fixtureStarted(ips.first(), 0);
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
            continue;
        }
        FixtureResult result;
        result.ip = fixture.ip;
        result.name = fixture.name;
        result.versionBefore = fixture.version;
        result.outcome = FixtureResult::Outcome::NotStarted;
        result.reason = fits ? "Skipped: it already runs v" + target : "Skipped: the image does not fit it";
        plan.skipped.append(result);
        ++(fits ? plan.current : plan.notFitting);
    }
    return plan;
}

QString summaryLine(const QList<FixtureResult> &results)
{
    int updated = 0, failed = 0, notStarted = 0, current = 0, notFitting = 0;
    for (const FixtureResult &result : results) {
        if (result.outcome == FixtureResult::Outcome::Updated)
            ++updated;
        else if (result.outcome == FixtureResult::Outcome::Failed)
            ++failed;
        else if (result.reason.startsWith("Skipped: it already runs"))
            ++current;
        else if (result.reason.startsWith("Skipped"))
            ++notFitting;
        else
            ++notStarted;
    }
    QString line = QString("Update finished: %1 updated, %2 skipped as current, %3 failed")
                       .arg(updated).arg(current).arg(failed);
    if (notFitting)
        line += QString(", %1 not fitting the image").arg(notFitting);
    if (notStarted)
        line += QString(", %1 not started").arg(notStarted);
    return line + ".";
}

QStringList failureLines(const QList<FixtureResult> &results)
{
    QStringList lines;
    for (const FixtureResult &result : results)
        if (result.outcome == FixtureResult::Outcome::Failed)
            lines << result.ip + " (" + result.name + "): " + result.reason;
    return lines;
}

static QString csvField(QString text)
{
    if (text.contains(',') || text.contains('"') || text.contains('\n'))
        text = '"' + text.replace('"', "\"\"") + '"';
    return text;
}

bool writeCsvReport(const QString &path, const QList<FixtureResult> &results, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = file.errorString();
        return false;
    }
    static const char *const outcomes[] = {"waiting", "running", "updated", "failed", "not updated"};
    QTextStream out(&file);
    out << "name,address,version before,version after,result,reason\n";
    for (const FixtureResult &r : results)
        out << csvField(r.name) << ',' << r.ip << ',' << r.versionBefore << ',' << r.versionAfter << ','
            << outcomes[int(r.outcome)] << ',' << csvField(r.reason) << '\n';
    return true;
}

QString durationText(int seconds)
{
    return seconds >= 60 ? QString("%1 min %2 s").arg(seconds / 60).arg(seconds % 60)
                         : QString("%1 s").arg(seconds);
}
