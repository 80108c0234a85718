// Finding a fixture: `lumiload -s <interface> -L <address>` makes the
// fixture's indicators flash, `-L <address>,off` makes them normal again.
// The job keeps which fixtures are locating, and through which interface,
// runs one such child at a time, and tells the window what changed. It
// never touches which fixtures are chosen for an update.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>

class QProcess;

class LocateJob : public QObject
{
    Q_OBJECT

public:
    explicit LocateJob(QObject *parent);

    // Starts a locate of `ip` (`on`) or its end, through the interface
    // `interfaceAddress` (an end goes through the interface its locate
    // went through); false when a child runs already or cannot start.
    bool start(const QString &program, const QString &interfaceAddress, const QString &ip, bool on);
    bool isRunning() const;
    bool isLocating(const QString &ip) const { return m_locating.contains(ip); }
    // Ends every locate, one child after the other, and returns when all
    // have ended; each fixture counts as normal again, answered or not.
    void stopAll(const QString &program);

signals:
    // The child of a request runs (and holds port 6454) until ended().
    void started(const QString &ip);
    // `problem` is empty when the fixture answered, else why the request
    // failed, in words for the operator. isLocating() is already updated.
    void ended(const QString &ip, bool on, const QString &problem);

private slots:
    void processEnded();

private:
    QProcess *m_process;
    QString m_ip;   // of the running request
    bool m_on = false;
    QString m_interface;
    QMap<QString, QString> m_locating;   // fixture address -> interface address
};
