#include "NetworkCheck.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include "UpdaterOutput.h"
#include "UploadJob.h"

NetworkCheckResult readNetworkCheck(const QByteArray &jsonLines)
{
    NetworkCheckResult result;
    for (const QByteArray &line : jsonLines.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString type = object.value("type").toString();
        if (type == "check-choice") {
            result.chosen = object.value("name").toString() + " (" + object.value("address").toString() + ")";
        } else if (type == "check-fixture") {
            ++result.fixtures;
        } else if (type == "check-problem") {
            result.findings.append({object.value("kind").toString(), object.value("address").toString(),
                                    object.value("text").toString(), object.value("fix").toString()});
        } else if (type == "error") {
            result.errors.append(object.value("text").toString());
        } else if (type == "check-firewall" && object.value("checked").toBool()) {
            result.firewall = object.value("text").toString();
        } else if (type == "check-end") {
            result.complete = true;
        }
    }
    return result;
}

// lumiload's phrase as a sentence of its own.
static QString sentence(const QString &text)
{
    if (text.isEmpty())
        return text;
    QString result = text.left(1).toUpper() + text.mid(1);
    return result.endsWith('.') ? result : result + ".";
}

// The first group of `pattern` in `text`, or "".
static QString captured(const QString &text, const char *pattern)
{
    return QRegularExpression(pattern).match(text).captured(1);
}

OperatorFinding explainFinding(const CheckFinding &finding, const QStringList &errors)
{
    const QString &at = finding.address;
    if (finding.kind == "no-interface" && !at.isEmpty())
        return {QString("The interface chosen (%1) cannot reach fixtures: it is not a network connection that can "
                        "carry Art-Net.").arg(at),
                "Choose the connection to the fixtures in the interface list at the top; after plugging it in, "
                "press Refresh."};
    if (finding.kind == "no-interface")
        return {"No network connection of this computer is in the fixtures' network (2.x.x.x).",
                "Give the connection to the fixtures an address in their network, or choose it in the interface "
                "list."};
    if (finding.kind == "port-taken") {
        const QString holder = captured(errors.join('\n'), "Port 6454 is in use by ([^\\n]*)\\.");
        return {QString("Another program on this computer holds the Art-Net port (UDP 6454)%1, so no update can "
                        "run.").arg(holder.isEmpty() ? QString() : ": " + holder),
                "Close that program (a lighting console, a visualiser, another updater) while you update, then "
                "check again."};
    }
    if (finding.kind == "no-fixture")
        return {QString("No fixture answers on this interface (%1).").arg(at),
                "Check the cable and the switch, that the fixtures are switched on, and that the interface chosen "
                "is the one to their network."};
    if (finding.kind == "outside-network") {
        const QString network = captured(finding.text, "outside its network (\\S+);");
        const QString home = captured(finding.text, "in the network of [^(]*\\(([0-9.]+)\\)");
        return {QString("Fixture %1 answers from outside this interface's network (%2), so an update cannot reach "
                        "it.").arg(at, network),
                home.isEmpty() ? QString("Give the fixture an address in %1, or give this computer an address in "
                                         "the fixture's network.").arg(network)
                               : QString("Choose %1 in the interface list to update it, or give the fixture an "
                                         "address in %2.").arg(home, network)};
    }
    if (finding.kind == "address-conflict")
        return {QString("Several devices answer at %1 (%2), so no update may go there.")
                    .arg(at, captured(finding.text, ": ([0-9a-f: ]+); ").split(' ').join(", ")),
                "Give each device its own address (two fixtures left at the same factory address, say)."};
    if (finding.kind == "swapped-maker-code")
        return {QString("Fixture %1 reports its maker code with the bytes swapped (a fault of its network "
                        "firmware), so no firmware file fits it.").arg(at),
                "Update it with the maker's own tool, or report the fault to the maker."};
    if (finding.kind == "firewall")
        return {"The Windows Firewall keeps the fixtures' answers from lumiload on this network.",
                "Let lumiload.exe in: install with the installer, or run add-firewall-rule.cmd as administrator."};
    return {sentence(finding.text), sentence(finding.fix)};
}

NetworkCheckJob::NetworkCheckJob(QObject *parent) : QObject(parent), m_process(new QProcess(this))
{
    m_process->setObjectName("networkCheckProcess");
    connect(m_process, &QProcess::readyReadStandardOutput, this,
            [this]() { m_output.append(m_process->readAllStandardOutput()); });
    connect(m_process, &QProcess::finished, this, &NetworkCheckJob::processEnded);
}

bool NetworkCheckJob::start(const QString &program, const QString &interfaceAddress)
{
    if (!isRunning()) {
        m_output.clear();
        m_result = {};
        m_interface = interfaceAddress;
        // Standard error repeats the error objects of standard output.
        m_process->setStandardErrorFile(QProcess::nullDevice());
        m_process->start(program, {"-N", "-j", "-s", interfaceAddress});
        qDebug() << "Running network check:" << program << m_process->arguments();
    }
    return m_process->waitForStarted(UploadJob::startTimeout());
}

bool NetworkCheckJob::isRunning() const
{
    return m_process->state() != QProcess::NotRunning;
}

void NetworkCheckJob::stop()
{
    if (isRunning()) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

void NetworkCheckJob::processEnded()
{
    m_output.append(m_process->readAllStandardOutput());
    m_result = readNetworkCheck(m_output);
    QString failure;
    if (!m_result.complete) {
        failure = describeErrors(m_result.errors);
        if (failure.isEmpty())
            failure = m_process->exitStatus() == QProcess::CrashExit
                          ? "lumiload stopped unexpectedly (it crashed or was killed)."
                          : QString("lumiload ended (status %1) without finishing the check.").arg(m_process->exitCode());
    }
    emit finished(failure);
}
