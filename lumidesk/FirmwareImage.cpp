#include "FirmwareImage.h"

#include <QFile>

#include "alf_format.h"
#include "firmware_version.h"
#include "maker_code.h"

quint32 FirmwareImage::blockCount() const
{
    return alf_block_count(dataLength);
}

bool FirmwareImage::fits(quint16 estaCode, quint16 oemCode) const
{
    return alf_fits(std::vector<uint16_t>(oemCodes.begin(), oemCodes.end()), estaCode, oemCode);
}

bool readFirmwareImage(const QString &path, FirmwareImage *image, QString *problem)
{
    *image = FirmwareImage();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QString("The file cannot be opened: %1.").arg(file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(ALF_HEADER_SIZE);
    if (bytes.size() < ALF_HEADER_SIZE) {
        *problem = QString("The file is too short for a firmware image (%1 bytes).").arg(bytes.size());
        return false;
    }
    AlfHeader header;
    decode_alf_header(reinterpret_cast<const uint8_t *>(bytes.constData()), &header);
    image->checksum = header.data_checksum;
    image->version = header.version;
    image->name = QString::fromLatin1(header.name.data(), qsizetype(header.name.size()));
    image->oemCodes = QList<quint16>(header.oemCodes.begin(), header.oemCodes.end());
    image->dataLength = header.data_length;

    const qint64 expected = alf_expected_size(image->dataLength);
    if (file.size() != expected) {
        *problem = QString("The file's length does not agree with its header "
                           "(expected %1 bytes, found %2): it is damaged or not a firmware image.")
                       .arg(expected)
                       .arg(file.size());
        return false;
    }
    quint16 sum = 0;
    while (!file.atEnd()) {
        // Even-sized slices, so no word is split between two of them.
        const QByteArray chunk = file.read(1 << 16);
        if (chunk.isEmpty()) {
            *problem = QString("The file cannot be read: %1.").arg(file.errorString());
            return false;
        }
        sum = alf_word_sum(sum, reinterpret_cast<const uint8_t *>(chunk.constData()), size_t(chunk.size()));
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
    return QString::fromStdString(version_text(version));
}

bool parseVersionText(const QString &text, quint16 *version)
{
    return parse_version_text(text.toStdString(), version);
}
