#include "UploadJob.h"

#include <QDebug>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>

static int s_startTimeoutMs = 30000;
static int s_stuckTimeoutMs = 5000;

int UploadJob::startTimeout()
{
    return s_startTimeoutMs;
}

int UploadJob::stuckTimeout()
{
    return s_stuckTimeoutMs;
}

void UploadJob::setTimeouts(int startMs, int stuckMs)
{
    s_startTimeoutMs = startMs;
    s_stuckTimeoutMs = stuckMs;
}

UploadJob::UploadJob(const QStringList &ips, bool parallel, QObject *parent)
    : QObject(parent), m_ips(ips), m_parallel(parallel), m_process(new QProcess(this))
{
    for (const QString &ip : ips) {
        QTimer *timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, ip]() { fellSilent(ip); });
        m_fixtures[ip].stuckTimer = timer;
    }
    // Connected before the start, so no output is missed.
    connect(m_process, &QProcess::readyReadStandardOutput, this, &UploadJob::readOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, [this]() {
        // Errors of the run as a whole concern every fixture of it.
        const QString errors = QString::fromUtf8(m_process->readAllStandardError());
        for (Fixture &fixture : m_fixtures)
            fixture.progress.feedErrors(errors);
    });
    connect(m_process, &QProcess::finished, this, &UploadJob::processEnded);
}

bool UploadJob::start(const QString &program, const QStringList &arguments)
{
    if (arguments.contains("-c"))
        for (Fixture &fixture : m_fixtures)
            fixture.progress.expectConfirmation();
    m_process->start(program, arguments);
    return m_process->waitForStarted(s_startTimeoutMs);
}

void UploadJob::requestStop()
{
    m_process->write("stop\n");
}

void UploadJob::waitForEnd()
{
    if (m_ended)
        return;
    QEventLoop loop;
    connect(this, &UploadJob::ended, &loop, &QEventLoop::quit);
    loop.exec();
}

// A sequential report is its one fixture's; a parallel run's lines go to
// the fixture they name, and lines about the run as a whole (banner,
// discovery, summary) to none.
void UploadJob::readOutput()
{
    const QString output = QString::fromUtf8(m_process->readAllStandardOutput());
    if (output.isEmpty())
        return;
    qDebug() << "Output received:" << output;
    if (!m_parallel) {
        m_fixtures[m_ips.first()].progress.feed(output);
        took(m_ips.first());
        return;
    }
    m_lines.append(output);
    route(m_lines.takeLines());
}

void UploadJob::route(const QStringList &lines)
{
    QStringList named;
    for (const QString &line : lines) {
        const QString ip = line.section(' ', 0, 0);
        if (!m_fixtures.contains(ip))
            continue;
        m_fixtures[ip].progress.feedEvent(line.section(' ', 1));
        if (!named.contains(ip))
            named.append(ip);
    }
    std::sort(named.begin(), named.end());
    for (const QString &ip : named)
        took(ip);
}

// Each piece about a fixture that leaves it uploading gives it another
// stuckTimeout(); while it restarts, or once settled, it cannot be stuck.
void UploadJob::took(const QString &ip)
{
    Fixture &fixture = m_fixtures[ip];
    if (fixture.progress.state() == FixtureState::Running)
        fixture.stuckTimer->start(s_stuckTimeoutMs);
    else
        fixture.stuckTimer->stop();
    emit progressed(ip, fixture.shown());
    if (m_parallel && fixture.progress.settled() && !fixture.settled) {
        fixture.settled = true;
        emit settled(ip);
    }
}

// A fixture silent before its first accepted block may still be starting,
// and one whose blocks are all accepted is writing its flash.
void UploadJob::fellSilent(const QString &ip)
{
    Fixture &fixture = m_fixtures[ip];
    const FixtureProgress progress = fixture.progress.snapshot();
    if (progress.blocks <= 0 || progress.blocks >= progress.blockCount)
        return;
    qDebug() << "Upload stuck for IP:" << ip;
    fixture.stuck = true;
    emit stuck(ip);
    emit progressed(ip, fixture.shown());
}

FixtureProgress UploadJob::Fixture::shown() const
{
    FixtureProgress shown = progress.snapshot();
    if (stuck && shown.state == FixtureState::Running)
        shown.state = FixtureState::Stuck;
    return shown;
}

void UploadJob::processEnded()
{
    if (m_ended)
        return;
    readOutput();
    if (const QString last = m_lines.takeRest(); !last.isEmpty())
        route({last});
    const QString errors = QString::fromUtf8(m_process->readAllStandardError());
    const bool crashed = m_process->exitStatus() == QProcess::CrashExit;
    m_ended = true;
    for (const QString &ip : m_ips) {
        Fixture &fixture = m_fixtures[ip];
        fixture.progress.feedErrors(errors);
        fixture.progress.finish(crashed, m_process->exitCode());
        fixture.stuckTimer->stop();
        if (!fixture.settled) {
            fixture.settled = true;
            emit settled(ip);
        }
    }
    emit ended();
}
