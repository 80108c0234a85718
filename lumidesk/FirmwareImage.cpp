#include "FirmwareImage.h"

#include <QFile>
#include <QStringList>

static const qint64 kHeaderSize = 1060;
static const int kNameOffset = 4;
static const int kNameSize = 30;
static const int kOemOffset = 34;
static const int kOemSlots = 256;
static const int kDataLengthOffset = 1056;

static quint16 bigEndian16(const uchar *bytes)
{
    return quint16(bytes[0] << 8 | bytes[1]);
}

quint32 FirmwareImage::blockCount() const
{
    return quint32((quint64(dataLength) + kHeaderSize / 2 + 511) / 512);
}

bool FirmwareImage::fits(quint16 estaCode, quint16 oemCode) const
{
    return estaCode == kMakerCode && (oemCode == kMakerCode || oemCodes.contains(oemCode));
}

bool readFirmwareImage(const QString &path, FirmwareImage *image, QString *problem)
{
    *image = FirmwareImage();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QString("The file cannot be opened: %1.").arg(file.errorString());
        return false;
    }
    const QByteArray header = file.read(kHeaderSize);
    if (header.size() < kHeaderSize) {
        *problem = QString("The file is too short for a firmware image (%1 bytes).").arg(header.size());
        return false;
    }
    const uchar *bytes = reinterpret_cast<const uchar *>(header.constData());
    image->checksum = bigEndian16(bytes);
    image->version = bigEndian16(bytes + 2);
    const QByteArray name(header.constData() + kNameOffset, kNameSize);
    image->name = QString::fromLatin1(name.left(name.indexOf('\0') < 0 ? kNameSize : name.indexOf('\0')));
    for (int slot = 0; slot < kOemSlots; ++slot) {
        if (const quint16 code = bigEndian16(bytes + kOemOffset + 2 * slot))
            image->oemCodes.append(code);
    }
    image->dataLength = quint32(bigEndian16(bytes + kDataLengthOffset)) << 16 |
                        bigEndian16(bytes + kDataLengthOffset + 2);

    // In 64 bits: a data length near 2^31 words must not wrap.
    const qint64 expected = 2 * qint64(image->dataLength) + kHeaderSize;
    if (file.size() != expected) {
        *problem = QString("The file's length does not agree with its header "
                           "(expected %1 bytes, found %2): it is damaged or not a firmware image.")
                       .arg(expected)
                       .arg(file.size());
        return false;
    }
    // The complement of the 16-bit sum of the data words, each low byte first.
    quint16 sum = 0;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(1 << 16);
        if (chunk.isEmpty()) {
            *problem = QString("The file cannot be read: %1.").arg(file.errorString());
            return false;
        }
        const uchar *data = reinterpret_cast<const uchar *>(chunk.constData());
        for (qsizetype i = 0; i + 1 < chunk.size(); i += 2)
            sum = quint16(sum + data[i] + 256 * data[i + 1]);
    }
    if (quint16(~sum) != image->checksum) {
        *problem = QString("The file's checksum is wrong (expected 0x%1, computed 0x%2): it is damaged.")
                       .arg(image->checksum, 4, 16, QChar('0'))
                       .arg(quint16(~sum), 4, 16, QChar('0'));
        return false;
    }
    return true;
}

QString versionText(quint16 version)
{
    const unsigned low = version & 0xFF;
    return QString("%1.%2.%3").arg(version >> 8).arg(low / 10).arg(low % 10);
}

bool parseVersionText(const QString &text, quint16 *version)
{
    const QStringList parts = text.split('.');
    if (parts.size() != 3)
        return false;
    bool ok[3];
    const unsigned major = parts[0].toUInt(&ok[0]);
    const unsigned minor = parts[1].toUInt(&ok[1]);
    const unsigned patch = parts[2].toUInt(&ok[2]);
    // The middle part is bounded on its own first: ten times a huge one
    // wraps round in 32 bits.
    if (!ok[0] || !ok[1] || !ok[2] || major > 255 || minor > 25 || patch > 9 || minor * 10 + patch > 255)
        return false;
    *version = quint16(major << 8 | (minor * 10 + patch));
    return true;
}
