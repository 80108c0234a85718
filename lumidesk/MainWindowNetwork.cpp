// The window's network tools: "Check Network..." beside the interface,
// run by itself after a discovery that found no fixture, and "Locate" in a
// row's context menu. Every lumiload binds UDP port 6454, which one
// program at a time may hold: a check or a locate starts only while the
// run button could start a discovery, and holds that button until it ends.
#include "MainWindow.h"

#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "LocateJob.h"
#include "MessageBoxes.h"
#include "NetworkCheckDialog.h"

namespace {

// Keeps `follower` enabled exactly when the watched widget is.
class EnabledMirror : public QObject
{
public:
    EnabledMirror(QWidget *watched, QWidget *follower) : QObject(follower), m_follower(follower)
    {
        watched->installEventFilter(this);
        follower->setEnabled(watched->isEnabled());
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange)
            m_follower->setEnabled(static_cast<QWidget *>(watched)->isEnabled());
        return false;
    }

private:
    QWidget *m_follower;
};

// The sign of a locating row: an amber lamp.
QIcon locateIcon()
{
    QPixmap lamp(16, 16);
    lamp.fill(Qt::transparent);
    QPainter painter(&lamp);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 236, 170), 2));
    painter.setBrush(QColor(255, 176, 0));
    painter.drawEllipse(QRectF(2, 2, 12, 12));
    return QIcon(lamp);
}

} // namespace

void MainWindow::buildNetworkTools()
{
    checkNetworkButton->setToolTip("Checks the chosen interface: port 6454, the fixtures that answer and their troubles");
    new EnabledMirror(runButton, checkNetworkButton);
    connect(checkNetworkButton, &QPushButton::clicked, this, &MainWindow::checkNetwork);
    networkCheck = new NetworkCheckDialog(this);
    connect(networkCheck, &NetworkCheckDialog::started, this, [this]() { runButton->setEnabled(false); });
    connect(networkCheck, &NetworkCheckDialog::ended, this, [this]() { runButton->setEnabled(true); });

    locator = new LocateJob(this);
    deviceTable->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(deviceTable, &QWidget::customContextMenuRequested, this, &MainWindow::showRowMenu);
    connect(locator, &LocateJob::started, this, [this](const QString &ip) {
        runButton->setEnabled(false);
        statusLabel->setText("Asking " + ip + (locator->isLocating(ip) ? " to end its locate..." : " to locate itself..."));
    });
    connect(locator, &LocateJob::ended, this, [this](const QString &ip, bool on, const QString &problem) {
        runButton->setEnabled(true);
        const int row = deviceTable->rowOf(ip);
        if (row >= 0)
            deviceTable->item(row, 0)->setIcon(locator->isLocating(ip) ? locateIcon() : QIcon());
        if (!problem.isEmpty())
            statusLabel->setText(QString(on ? "Locate of %1 failed: %2" : "End of the locate of %1 failed: %2").arg(ip, problem));
        else
            statusLabel->setText(on ? "Locating " + ip + ": its indicators flash until Stop Locating, an update or the window's end"
                                    : "Locate of " + ip + " ended: its indicators are normal again");
    });
}

void MainWindow::checkNetwork()
{
    if (!runButton->isEnabled())
        return;
    QString lookedIn;
    const QString program = updaterProgram(&lookedIn);
    if (!networkCheck->run(program, interfaceAddress()))
        showBox(this, QMessageBox::Critical, "Error", "Failed to start the command.", lookedIn);
}

// Opened once per discovery that found no fixture, without waiting for an
// answer: the operator sees why, and the window stays usable.
void MainWindow::checkAfterEmptyDiscovery(const QString &address)
{
    QString lookedIn;
    networkCheck->run(updaterProgram(&lookedIn), address,
                      "No fixture answered on " + address + ", so the window checked the network.");
}

void MainWindow::showRowMenu(const QPoint &position)
{
    const int row = deviceTable->rowAt(position.y());
    if (row < 0)
        return;
    const QString ip = deviceTable->fixtureAt(row).ip;
    QMenu *menu = new QMenu(this);
    menu->setObjectName("rowMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction *locate = menu->addAction(locator->isLocating(ip) ? "Stop Locating " + ip : "Locate " + ip);
    locate->setEnabled(runButton->isEnabled());
    connect(locate, &QAction::triggered, this, [this, ip]() {
        QString lookedIn;
        if (!locator->start(updaterProgram(&lookedIn), interfaceAddress(), ip, !locator->isLocating(ip)))
            showBox(this, QMessageBox::Critical, "Error", "Failed to start the command for IP: " + ip, lookedIn);
    });
    menu->popup(deviceTable->viewport()->mapToGlobal(position));
}

void MainWindow::endLocates()
{
    QString lookedIn;
    locator->stopAll(updaterProgram(&lookedIn));
}

void MainWindow::endNetworkTools()
{
    networkCheck->stop();
    endLocates();
}
