// The fixture table: one row per fixture, found by its IP text, with the
// fixture's progress bar in the last column. Rows are only ever appended,
// never moved or removed, so a row number and a bar stay valid. Each row
// keeps its fixture and its state; the bar's text and colour are drawn
// from the state.
#pragma once

#include <QHash>
#include <QItemSelection>
#include <QHeaderView>
#include <QList>
#include <QSet>
#include <QTableWidget>

#include "FirmwareImage.h"
#include "FirmwareLibrary.h"
#include "FixtureResults.h"

class QMouseEvent;
class QProgressBar;

// Horizontal header of the fixture table: every press on it, whatever the
// button and the section, reports sectionClicked with the section under the
// pointer (-1 for none), on the press rather than the release.
class CustomHeaderView : public QHeaderView
{
    Q_OBJECT

public:
    CustomHeaderView(Qt::Orientation orientation, QWidget *parent);
    ~CustomHeaderView() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

class FixtureTable : public QTableWidget
{
    Q_OBJECT

public:
    explicit FixtureTable(QWidget *parent);

    int rowOf(const QString &ip) const;   // -1 when not listed
    QProgressBar *barAt(int row) const;
    QProgressBar *barOf(const QString &ip) const;
    // The fixture as it last reported itself: to a discovery, or after the
    // restart of its update.
    DiscoveredFixture fixtureAt(int row) const;
    FixtureState stateAt(int row) const { return m_rows.value(row).state; }

    // Appends the fixtures not listed yet, in one insertion, and fits the
    // columns; a listed fixture keeps its row and takes the new name,
    // version and codes. Returns how many rows were added.
    int addFixtures(const QList<DiscoveredFixture> &fixtures);
    // After a discovery on `interfaceAddress`: greys the rows of fixtures last
    // found through that interface that are not in `seen`, with a tooltip
    // saying so; those in `seen` look normal again; fixtures of other
    // networks stay as they were.
    void markSeen(const QSet<QString> &seen, const QString &interfaceAddress);
    bool seenAt(int row) const { return m_rows.value(row).seen; }
    // A note on the row, e.g. why it failed: in its Reason column and as
    // the tooltip of every cell.
    void setRowNote(int row, const QString &note);
    // Rows without a result of their own show whether `image` fits their
    // fixture; nullptr when no usable image is chosen.
    void markImageFit(const FirmwareImage *image);
    // With a firmware folder the Image column shows, beside the version,
    // the image lumiload's plan gives each fixture; without one it is hidden
    // and the plans are forgotten.
    void setLibraryMode(bool on);
    bool libraryMode() const { return !isColumnHidden(kImageColumn); }
    // Takes the plan of a discovery with the folder: each named fixture's
    // image, or why it gets none.
    void showPlan(const QList<PlannedImage> &plan);
    // Forgets every plan: the folder or its images changed.
    void clearPlans();
    // The image the latest plan gives the row's fixture; false when no
    // plan with the folder named it.
    bool plannedAt(int row, PlannedImage *planned) const;
    // Rows without a result of their own show a fixture that no image of the
    // folder fits as not fitting, and one with an ambiguous image (or an
    // address several devices answer from) as a conflict.
    void markPlannedImages();
    // The bar of a fixture whose upload runs: its range once the block
    // count is known, the blocks accepted, and the state it is in. False
    // when the fixture has no row.
    bool showProgress(const QString &ip, const FixtureProgress &progress);
    // The row's bar, note and version after its fixture's upload. A
    // version confirmed here that a later discovery contradicts turns the
    // row to VersionChanged.
    void showResult(int row, const FixtureResult &result);
    // Columns fitted to their contents, or as the operator last set them;
    // the last one filling the rest.
    void fitColumns();
    QList<int> columnWidths() const;
    void setColumnWidths(const QList<int> &widths) { m_widths = widths; }

    // Rows with at least one selected cell, top to bottom.
    QList<int> selectedRowNumbers() const;
    // With nothing selected selects every row, else clears the selection.
    void toggleSelectAll();
    // Shows only the rows whose address has this first number; returns
    // whether any row is shown.
    bool showOnlyFirstNumber(const QString &firstNumber);

    // These rows' bars back to 0 and idle: "%p%" and blue; the ranges stay.
    void resetBars(const QList<int> &rows);
    // Selects exactly those of these fixtures whose rows the operator can
    // see: shown, in view, and seen in the latest discovery.
    void selectInView(const QStringList &ips);

protected:
    // Opening a row's details by a double-click leaves the selection as it
    // was before the click: the two presses of it would toggle the row.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    // The row's state, and its bar drawn from it: blue idle or running,
    // green updated or skipped as current, amber waiting for a quiet
    // fixture's reply, red failed, grey not started, dark yellow when the
    // chosen image does not fit the fixture.
    void setRowState(int row, FixtureState state, int attempt = 1);
    void drawBar(int row);
    QFont smallFont() const;

    static const int kImageColumn = 5;
    void showPlannedImage(int row);

    struct Row {
        DiscoveredFixture fixture;
        PlannedImage planned;
        bool hasPlan = false;           // named by the latest plan with the folder
        FixtureState state = FixtureState::Idle;
        int attempt = 1;                // lumiload's at the block in hand, while stuck
        bool seen = true;               // in the latest discovery
        bool notSeenNote = false;       // its cells carry the note that it was not seen
        QString confirmedVersion;       // by the last update of the fixture
        QString foundOn;                // the interface of its last discovery
    };
    QHash<QString, int> m_rowByIp;
    QList<Row> m_rows;
    QList<int> m_widths;   // remembered, of every column but the last
    QItemSelection m_selectionBeforeClick;
    qint64 m_lastPressMs = 0;
};
