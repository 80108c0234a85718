// The fixture table: one row per fixture, found by its IP text, with the
// fixture's progress bar in the last column. Rows are only ever appended,
// never moved or removed, so a row number and a bar stay valid.
#pragma once

#include <QHash>
#include <QHeaderView>
#include <QList>
#include <QTableWidget>

#include "UpdaterOutput.h"

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

    // Appends the fixtures not listed yet, in one insertion, and fits the
    // columns; a listed fixture keeps its row and name and takes the new
    // version. Returns how many rows were added.
    int addFixtures(const QList<DiscoveredFixture> &fixtures);
    // Columns fitted to their contents, the last one filling the rest.
    void fitColumns();

    // Rows with at least one selected cell, top to bottom.
    QList<int> selectedRowNumbers() const;
    // With nothing selected selects every row, else clears the selection.
    void toggleSelectAll();
    // Shows only the rows whose address has this first number; returns
    // whether any row is shown.
    bool showOnlyFirstNumber(const QString &firstNumber);

    // A bar's state is its format text and highlight colour: blue reset,
    // green succeeded or skipped, red failed.
    enum class BarState { Reset, Skipped, Succeeded, Failed };
    static void setBarState(QProgressBar *bar, BarState state);
    static bool isInState(const QProgressBar *bar, BarState state);
    // Every bar back to 0, "%p%" and blue; the ranges stay.
    void resetBars();
    // Selects exactly the rows whose bar is in `state`.
    void selectRowsIn(BarState state);

private:
    QHash<QString, int> m_rowByIp;
};
