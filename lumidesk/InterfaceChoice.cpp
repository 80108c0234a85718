#include "InterfaceChoice.h"

#include <QHostAddress>
#include <QNetworkInterface>

QList<InterfaceEntry> upIPv4Interfaces()
{
    QList<InterfaceEntry> entries;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!(iface.flags() & QNetworkInterface::IsUp))
            continue;
        const QList<QNetworkAddressEntry> addresses = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : addresses) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                entries.append({address.toString() + " (" + iface.humanReadableName() + ")", address.toString()});
        }
    }
    return entries;
}

int preferredInterface(const QList<InterfaceEntry> &entries, const QString &lastAddress)
{
    const auto find = [&entries](auto matches) {
        for (int i = 0; i < entries.size(); ++i)
            if (matches(entries[i].address))
                return i;
        return -1;
    };
    int choice = lastAddress.isEmpty() ? -1 : find([&](const QString &a) { return a == lastAddress; });
    if (choice < 0)
        choice = find([](const QString &a) { return a.startsWith("2."); });
    if (choice < 0)
        choice = find([](const QString &a) { return a.startsWith("10."); });
    return choice;
}
