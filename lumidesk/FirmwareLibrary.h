// A firmware folder as the window shows it, and the image lumiload's plan
// gives each fixture. QtCore only.
//
// Two facts, each with one source. Which files are usable images is
// decided by the checks of the shared formats library, which lumiload
// applies to the same files (readFirmwareImage), so the window can list the
// folder as soon as it is chosen, before any discovery. Which image a
// fixture gets is decided by lumiload alone: its plan lines, read from a
// discovery run with the folder, fill the table's image column and the
// confirmation. The window never works the choice out itself, so what it
// shows is what lumiload will send.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "FirmwareImage.h"

struct LibraryEntry {
    QString file;          // its name in the folder
    FirmwareImage image;
};

struct FirmwareLibrary {
    QString folder;
    QList<LibraryEntry> images;   // usable ones, in name order, as lumiload reads them
    QStringList leftOut;          // "file: why" for each file that fails a check

    // Files, versions and checksums: equal when lumiload would read the
    // same images.
    bool sameImages(const FirmwareLibrary &other) const;
};

// Reads every file of `folder` whose name ends in ".alf" (any case; not
// those of its subfolders) in name order. False, with `problem` in words
// for the operator, when the folder cannot be read or holds no usable image.
bool readFirmwareLibrary(const QString &folder, FirmwareLibrary *library, QString *problem);

// "Library: 2 images for 3 models (0x0101 Spot firmware 1.0.7, ...); 1
// file left out (bad.alf)", for the label under the version.
QString libraryText(const FirmwareLibrary &library);

// One fixture's line of lumiload's plan.
struct PlannedImage {
    enum class Action { Update, Downgrade, Current, NoImage, Conflict };
    QString ip;
    QString file;       // the image's file in the folder; empty without one
    QString version;    // the image's version
    Action action = Action::NoImage;
    QString why;        // lumiload's reason, where it gives one

    bool hasImage() const { return !file.isEmpty(); }
};

// Reads a plan line of lumiload's report ("    2.0.0.10 \"Spot 1\" 1.0.0:
// update spot.alf 1.0.7"); false for any other line.
bool parsePlanLine(const QString &line, PlannedImage *planned);
