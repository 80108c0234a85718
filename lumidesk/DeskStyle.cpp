#include "DeskStyle.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QPalette>
#include <QStringList>
#include <QStyleFactory>

void applyDeskStyle()
{
    QApplication::setStyle(QStyleFactory::create("Fusion"));

    // An optional font shipped next to the program; without it the
    // platform's default family stays.
    int fontId = QFontDatabase::addApplicationFont("fonts/SF-Pro.otf");
    if (fontId != -1) {
        QString fontFamily = QFontDatabase::applicationFontFamilies(fontId).at(0);
        QFont appFont(fontFamily, 16);
        QApplication::setFont(appFont);
    }

    QPalette darkPalette;
    darkPalette.setColor(QPalette::Window, QColor(53, 53, 53));
    darkPalette.setColor(QPalette::WindowText, Qt::white);
    darkPalette.setColor(QPalette::Base, QColor(25, 25, 25));
    darkPalette.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    darkPalette.setColor(QPalette::ToolTipBase, Qt::white);
    darkPalette.setColor(QPalette::ToolTipText, Qt::black);   // on the white tooltip
    darkPalette.setColor(QPalette::Text, Qt::white);
    darkPalette.setColor(QPalette::Button, QColor(53, 53, 53));
    darkPalette.setColor(QPalette::ButtonText, Qt::white);
    darkPalette.setColor(QPalette::BrightText, Qt::red);
    darkPalette.setColor(QPalette::Link, QColor(42, 130, 218));
    darkPalette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    darkPalette.setColor(QPalette::HighlightedText, Qt::black);
    // A control at rest must look it: its texts greyed, its face flatter.
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        darkPalette.setColor(QPalette::Disabled, role, QColor(128, 128, 128));
    darkPalette.setColor(QPalette::Disabled, QPalette::Button, QColor(44, 44, 44));
    QApplication::setPalette(darkPalette);

    qApp->setStyleSheet("QLineEdit::placeholder {  color: #cccccc;}");

    QFont defaultFont = QApplication::font();
    defaultFont.setPointSize(14);
    QApplication::setFont(defaultFont);
}
