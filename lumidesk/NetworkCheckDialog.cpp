#include "NetworkCheckDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QStyle>
#include <QVBoxLayout>

#include "FixtureResults.h"
#include "NetworkCheck.h"

static QLabel *wrappedLabel(const char *name)
{
    QLabel *label = new QLabel();
    label->setObjectName(name);
    label->setWordWrap(true);
    return label;
}

NetworkCheckDialog::NetworkCheckDialog(QWidget *parent)
    : QDialog(parent), m_job(new NetworkCheckJob(this)), m_reason(wrappedLabel("checkReason")),
      m_summary(wrappedLabel("checkSummary")), m_findings(new QListWidget()), m_details(wrappedLabel("checkDetails")),
      m_busy(new QProgressBar())
{
    setObjectName("networkCheckDialog");
    setWindowTitle("Network Check");
    resize(560, 360);
    m_findings->setObjectName("checkFindings");
    m_findings->setWordWrap(true);
    m_findings->setSelectionMode(QAbstractItemView::NoSelection);
    m_busy->setRange(0, 0);
    QDialogButtonBox *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);

    QVBoxLayout *layout = new QVBoxLayout(this);
    layout->addWidget(m_reason);
    layout->addWidget(m_summary);
    layout->addWidget(m_findings, 1);
    layout->addWidget(m_details);
    layout->addWidget(m_busy);
    layout->addWidget(buttons);

    connect(m_job, &NetworkCheckJob::finished, this, &NetworkCheckDialog::showResult);
}

bool NetworkCheckDialog::run(const QString &program, const QString &interfaceAddress, const QString &reason)
{
    if (isRunning())
        return false;
    m_reason->setText(reason);
    m_reason->setVisible(!reason.isEmpty());
    m_findings->clear();
    m_details->clear();
    show();
    raise();
    if (!m_job->start(program, interfaceAddress)) {
        m_summary->setText("The network check could not be started: lumiload did not run.");
        m_busy->hide();
        return false;
    }
    m_summary->setText("Checking the network on " + interfaceAddress + "...");
    m_busy->show();
    emit started();
    return true;
}

bool NetworkCheckDialog::isRunning() const
{
    return m_job->isRunning();
}

void NetworkCheckDialog::stop()
{
    m_job->stop();
}

void NetworkCheckDialog::showResult(const QString &failure)
{
    m_busy->hide();
    const NetworkCheckResult &result = m_job->result();
    const int problems = result.findings.size();
    if (!failure.isEmpty())
        m_summary->setText("The network check could not be made: " + failure);
    else if (problems == 0)
        m_summary->setText("Nothing stands in the way of an update.");
    else
        m_summary->setText(problems == 1 ? QString("1 problem stands in the way of an update:")
                                         : QString("%1 problems stand in the way of an update:").arg(problems));
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (const CheckFinding &finding : result.findings) {
        const OperatorFinding said = explainFinding(finding, result.errors);
        QListWidgetItem *item = new QListWidgetItem(warning, said.problem + "\nFix: " + said.fix, m_findings);
        item->setToolTip("lumiload: " + finding.text + "\nFix: " + finding.fix);
    }
    QStringList details;
    if (!result.chosen.isEmpty())
        details << QString("Checked %1: %2 answered.").arg(result.chosen, fixtureCount(result.fixtures));
    if (!result.firewall.isEmpty())
        details << "Windows Firewall: " + result.firewall + ".";
    m_details->setText(details.join('\n'));
    emit ended();
}
