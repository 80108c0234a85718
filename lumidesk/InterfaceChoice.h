// The interfaces the operator can choose for lumiload, and which of them
// to offer first. QtNetwork only.
#pragma once

#include <QList>
#include <QString>

struct InterfaceEntry {
    QString label;     // "2.0.0.1 (eth1)": the address with its interface's name
    QString address;   // what lumiload gets with -s
};

// One entry per IPv4 address of every interface that is up, in the order
// the system lists interfaces and their addresses.
QList<InterfaceEntry> upIPv4Interfaces();

// The entry of the last run's address if it is still there, else the first
// in an Art-Net network (2.x, then 10.x); -1 when none of these is found.
int preferredInterface(const QList<InterfaceEntry> &entries, const QString &lastAddress);
