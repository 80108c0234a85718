#include "FirmwareLibrary.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

bool FirmwareLibrary::sameImages(const FirmwareLibrary &other) const
{
    if (images.size() != other.images.size())
        return false;
    for (qsizetype i = 0; i < images.size(); ++i) {
        const LibraryEntry &a = images[i], &b = other.images[i];
        if (a.file != b.file || a.image.version != b.image.version || a.image.checksum != b.image.checksum ||
            a.image.oemCodes != b.image.oemCodes || a.image.dataLength != b.image.dataLength)
            return false;
    }
    return true;
}

bool readFirmwareLibrary(const QString &folder, FirmwareLibrary *library, QString *problem)
{
    *library = FirmwareLibrary();
    library->folder = folder;
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable()) {
        *problem = "The folder cannot be read.";
        return false;
    }
    // Every regular file whose name ends in ".alf", any case, sorted as
    // lumiload sorts them: by the bytes of their names.
    QStringList files;
    for (const QString &file : dir.entryList(QDir::Files | QDir::Hidden, QDir::Unsorted))
        if (file.endsWith(".alf", Qt::CaseInsensitive))
            files << file;
    std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) { return a.toUtf8() < b.toUtf8(); });
    for (const QString &file : files) {
        LibraryEntry entry{file, {}};
        QString why;
        if (readFirmwareImage(dir.filePath(file), &entry.image, &why))
            library->images.append(entry);
        else
            library->leftOut << file + ": " + why;
    }
    if (library->images.isEmpty()) {
        *problem = files.isEmpty() ? "The folder holds no firmware file (*.alf)."
                                   : "The folder holds no usable firmware image: " + library->leftOut.join(" ");
        return false;
    }
    return true;
}

QString libraryText(const FirmwareLibrary &library)
{
    QStringList models;
    int codes = 0;
    for (const LibraryEntry &entry : library.images) {
        QStringList oem;
        for (quint16 code : entry.image.oemCodes)
            oem << QString("0x%1").arg(code, 4, 16, QChar('0'));
        codes += int(oem.size());
        models << QString("%1 %2 %3").arg(oem.join('/'), entry.image.name.trimmed(), versionText(entry.image.version));
    }
    QString text = QString("Library: %1 image%2 for %3 model%4 (%5)")
                       .arg(library.images.size())
                       .arg(library.images.size() == 1 ? "" : "s")
                       .arg(codes)
                       .arg(codes == 1 ? "" : "s")
                       .arg(models.join(", "));
    if (!library.leftOut.isEmpty()) {
        QStringList files;
        for (const QString &line : library.leftOut)
            files << line.section(": ", 0, 0);
        text += QString("; %1 file%2 left out (%3)")
                    .arg(library.leftOut.size())
                    .arg(library.leftOut.size() == 1 ? "" : "s")
                    .arg(files.join(", "));
    }
    return text;
}

bool parsePlanLine(const QString &line, PlannedImage *planned)
{
    static const QRegularExpression pattern(
        "^    (\\d+\\.\\d+\\.\\d+\\.\\d+) \".*\" \\d+\\.\\d+\\.\\d+: (update|downgrade|current|no-image|conflict)(.*)$");
    // An image is named by its file and version; a reason follows " - ".
    static const QRegularExpression image("^ (.+) (\\d+\\.\\d+\\.\\d+)(?: - (.*))?$");
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return false;
    static const QStringList actions{"update", "downgrade", "current", "no-image", "conflict"};
    *planned = PlannedImage();
    planned->ip = match.captured(1);
    planned->action = PlannedImage::Action(actions.indexOf(match.captured(2)));
    const QString rest = match.captured(3);
    const bool named = planned->action != PlannedImage::Action::NoImage && planned->action != PlannedImage::Action::Conflict;
    if (const QRegularExpressionMatch file = image.match(rest); named && file.hasMatch()) {
        planned->file = file.captured(1);
        planned->version = file.captured(2);
        planned->why = file.captured(3);
    } else {
        planned->why = rest.startsWith(" - ") ? rest.mid(3) : rest.trimmed();
    }
    return true;
}
