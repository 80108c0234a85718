// The ALF image as the window checks it when the operator chooses it: the
// header fields lumiload reads, and the same length and checksum tests, so
// a bad file is refused before any fixture is touched. QtCore only.
#pragma once

#include <QList>
#include <QString>

struct FirmwareImage {
    QString name;
    quint16 version = 0;          // byte 2 in the high half
    QList<quint16> oemCodes;      // non-zero slots, in slot order
    quint32 dataLength = 0;       // in 16-bit words
    quint16 checksum = 0;

    // 1024-byte blocks of the whole file, header included.
    quint32 blockCount() const;
    // Whether the image may go onto a fixture with these codes: the maker's
    // own fixtures only, and only those whose OEM code the image lists (the
    // maker code as OEM code fits every image).
    bool fits(quint16 estaCode, quint16 oemCode) const;
};

// Reads and checks the image at `path`. On failure `problem` says why in
// words for the operator, and the function returns false.
bool readFirmwareImage(const QString &path, FirmwareImage *image, QString *problem);

// A version held in two bytes as lumiload and the fixtures show it: the
// high byte, then the low byte's tens, then its units ("1.2.3" for 1, 23).
QString versionText(quint16 version);
// The inverse for texts of that form; false for anything else.
bool parseVersionText(const QString &text, quint16 *version);
