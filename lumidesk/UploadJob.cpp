#include "UploadJob.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

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

UploadJob::UploadJob(const QString &ip, QObject *parent)
    : QObject(parent), m_ip(ip), m_process(new QProcess(this)), m_stuckTimer(new QTimer(this))
{
    m_stuckTimer->setSingleShot(true);
    connect(m_stuckTimer, &QTimer::timeout, this, &UploadJob::stuck);
    // Connected before the start, so no output is missed.
    connect(m_process, &QProcess::readyReadStandardOutput, this, &UploadJob::readOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, [this]() {
        m_progress.feedErrors(QString::fromUtf8(m_process->readAllStandardError()));
    });
    connect(m_process, &QProcess::finished, this, &UploadJob::processEnded);
}

bool UploadJob::start(const QString &program, const QStringList &arguments)
{
    m_process->start(program, arguments);
    return m_process->waitForStarted(s_startTimeoutMs);
}

void UploadJob::waitForEnd()
{
    if (m_ended)
        return;
    QEventLoop loop;
    connect(this, &UploadJob::ended, &loop, &QEventLoop::quit);
    loop.exec();
}

void UploadJob::readOutput()
{
    const QString output = QString::fromUtf8(m_process->readAllStandardOutput());
    if (output.isEmpty())
        return;
    m_progress.feed(output);
    // Each piece without the success line gives the child another
    // stuckTimeout() before it counts as stuck.
    if (m_progress.succeeded())
        m_stuckTimer->stop();
    else
        m_stuckTimer->start(s_stuckTimeoutMs);
    emit outputRead(output);
}

void UploadJob::processEnded()
{
    if (m_ended)
        return;
    readOutput();
    m_progress.feedErrors(QString::fromUtf8(m_process->readAllStandardError()));
    m_progress.finish(m_process->exitStatus() == QProcess::CrashExit, m_process->exitCode());
    m_stuckTimer->stop();
    m_ended = true;
    emit ended();
}
