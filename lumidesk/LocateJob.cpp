#include "LocateJob.h"

#include <QDebug>
#include <QProcess>

#include "UpdaterOutput.h"
#include "UploadJob.h"

// A locate's lumiload waits a second for the fixture's answer; this leaves
// room for its start and its end.
static const int kLocateEndMs = 5000;

LocateJob::LocateJob(QObject *parent) : QObject(parent), m_process(new QProcess(this))
{
    m_process->setObjectName("locateProcess");
    connect(m_process, &QProcess::finished, this, &LocateJob::processEnded);
}

bool LocateJob::start(const QString &program, const QString &interfaceAddress, const QString &ip, bool on)
{
    if (isRunning())
        return false;
    m_ip = ip;
    m_on = on;
    m_interface = on ? interfaceAddress : m_locating.value(ip, interfaceAddress);
    m_process->start(program, {"-s", m_interface, "-L", on ? ip : ip + ",off"});
    qDebug() << "Running locate:" << program << m_process->arguments();
    if (!m_process->waitForStarted(UploadJob::startTimeout()))
        return false;
    emit started(ip);
    return true;
}

bool LocateJob::isRunning() const
{
    return m_process->state() != QProcess::NotRunning;
}

void LocateJob::stopAll(const QString &program)
{
    // A child still running ends first: it may be the start of a locate.
    m_process->waitForFinished(kLocateEndMs);
    while (!m_locating.isEmpty()) {
        const QString ip = m_locating.firstKey();
        if (start(program, m_locating.first(), ip, false))
            m_process->waitForFinished(kLocateEndMs);
        if (m_locating.remove(ip))   // not ended: no retry at a run's start or the window's end
            emit ended(ip, false, "lumiload did not run.");
    }
}

void LocateJob::processEnded()
{
    const bool answered = m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
    if (m_on && answered)
        m_locating.insert(m_ip, m_interface);
    else if (!m_on)
        m_locating.remove(m_ip);
    QString problem;
    if (!answered) {
        LineBuffer lines;
        lines.append(m_process->readAllStandardError());
        QStringList errors = lines.takeLines();
        errors.append(lines.takeRest());
        problem = describeErrors(errors);
        if (problem.isEmpty())
            problem = m_on ? QString("%1 did not answer: it is switched off, disconnected or on another network.").arg(m_ip)
                           : QString("%1 did not answer the end of the locate: its indicators may still flash.").arg(m_ip);
    }
    emit ended(m_ip, m_on, problem);
}
