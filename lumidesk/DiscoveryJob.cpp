#include "DiscoveryJob.h"

#include <QDebug>
#include <QProcess>

#include "UploadJob.h"

DiscoveryJob::DiscoveryJob(QObject *parent)
    : QObject(parent), m_process(new QProcess(this)), m_parser(new DiscoveryParser(this))
{
    m_process->setObjectName("process");
    connect(m_process, &QProcess::readyReadStandardOutput, this, &DiscoveryJob::readOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, [this]() {
        m_errorLines.append(m_process->readAllStandardError());
        m_errors.append(m_errorLines.takeLines());
    });
    connect(m_process, &QProcess::finished, this, &DiscoveryJob::processEnded);
    connect(m_parser, &DiscoveryParser::fixturesFound, this, [this](const QList<DiscoveredFixture> &fixtures) {
        for (const DiscoveredFixture &fixture : fixtures)
            m_seen.insert(fixture.ip);
        emit fixturesFound(fixtures);
    });
    connect(m_parser, &DiscoveryParser::fixturesPlanned, this, &DiscoveryJob::fixturesPlanned);
    connect(m_parser, &DiscoveryParser::libraryListed, this, [this]() { m_libraryListed = true; });
}

bool DiscoveryJob::start(const QString &program, const QStringList &arguments, const QString &interfaceAddress)
{
    if (!isRunning()) {
        m_parser->reset();
        m_errorLines.clear();
        m_errors.clear();
        m_seen.clear();
        m_libraryListed = false;
        m_interface = interfaceAddress;
        m_process->start(program, arguments);
        qDebug() << "Running process:" << program << arguments;
    }
    return m_process->waitForStarted(UploadJob::startTimeout());
}

bool DiscoveryJob::isRunning() const
{
    return m_process->state() != QProcess::NotRunning;
}

void DiscoveryJob::stop()
{
    if (isRunning()) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

void DiscoveryJob::readOutput()
{
    const QByteArray data = m_process->readAllStandardOutput();
    qDebug() << "About to parse output:" << QString::fromUtf8(data);
    m_parser->feed(data);
}

void DiscoveryJob::processEnded()
{
    m_parser->feed(m_process->readAllStandardOutput());
    m_parser->finish();
    m_errorLines.append(m_process->readAllStandardError());
    m_errors.append(m_errorLines.takeLines());
    if (const QString last = m_errorLines.takeRest(); !last.isEmpty())
        m_errors.append(last);
    emit finished(describeErrors(m_errors, m_libraryListed));
}
