#include "FixtureTable.h"

#include <algorithm>

#include <QColor>
#include <QMouseEvent>
#include <QPalette>
#include <QProgressBar>

CustomHeaderView::CustomHeaderView(Qt::Orientation orientation, QWidget *parent)
    : QHeaderView(orientation, parent)
{
}

CustomHeaderView::~CustomHeaderView() = default;

void CustomHeaderView::mousePressEvent(QMouseEvent *event)
{
    const int logicalIndex = logicalIndexAt(event->pos());
    QHeaderView::mousePressEvent(event);
    emit sectionClicked(logicalIndex);
}

FixtureTable::FixtureTable(QWidget *parent) : QTableWidget(0, 4, parent)
{
    const QStringList headers = {"Name", "IP", "Version", "Progress"};
    setHorizontalHeaderLabels(headers);
    setSelectionMode(QAbstractItemView::MultiSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    CustomHeaderView *headerView = new CustomHeaderView(Qt::Horizontal, this);
    headerView->setObjectName("headerView");
    setHorizontalHeader(headerView);
    headerView->resizeSection(0, 200);
    headerView->setStretchLastSection(true);
}

int FixtureTable::rowOf(const QString &ip) const
{
    return m_rowByIp.value(ip, -1);
}

QProgressBar *FixtureTable::barAt(int row) const
{
    return qobject_cast<QProgressBar *>(cellWidget(row, 3));
}

QProgressBar *FixtureTable::barOf(const QString &ip) const
{
    const int row = rowOf(ip);
    return row < 0 ? nullptr : barAt(row);
}

// The table lays out every cell widget again for each insertion, so a
// thousand single-row insertions would cost a million widget placements:
// the new rows go in together.
int FixtureTable::addFixtures(const QList<DiscoveredFixture> &fixtures)
{
    const int first = rowCount();
    QList<DiscoveredFixture> added;
    for (const DiscoveredFixture &fixture : fixtures) {
        const int row = rowOf(fixture.ip);
        if (row < 0) {
            m_rowByIp.insert(fixture.ip, first + added.size());
            added.append(fixture);
        } else if (row < first) {
            item(row, 2)->setText(fixture.version);
        } else {
            added[row - first].version = fixture.version;
        }
    }
    if (added.isEmpty())
        return 0;

    setRowCount(first + added.size());
    for (int i = 0; i < added.size(); ++i) {
        const QString texts[3] = {added[i].name, added[i].ip, added[i].version};
        for (int column = 0; column < 3; ++column) {
            QTableWidgetItem *cell = new QTableWidgetItem(texts[column]);
            cell->setFlags(cell->flags() & ~Qt::ItemIsEditable);
            setItem(first + i, column, cell);
        }
        // Made in the viewport it will live in: reparenting 1000 bars costs
        // as much as the rest of a large discovery.
        QProgressBar *bar = new QProgressBar(viewport());
        bar->setRange(0, 100);
        bar->setValue(0);
        setCellWidget(first + i, 3, bar);
    }
    fitColumns();
    return added.size();
}

void FixtureTable::fitColumns()
{
    resizeColumnsToContents();
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setStretchLastSection(true);
}

QList<int> FixtureTable::selectedRowNumbers() const
{
    QList<int> rows;
    const QList<QTableWidgetItem *> items = selectedItems();
    for (QTableWidgetItem *cell : items)
        rows.append(cell->row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void FixtureTable::toggleSelectAll()
{
    if (selectedRanges().isEmpty())
        selectAll();
    else
        clearSelection();
}

bool FixtureTable::showOnlyFirstNumber(const QString &firstNumber)
{
    bool anyShown = false;
    for (int row = 0; row < rowCount(); ++row) {
        const bool shown = item(row, 1)->text().section('.', 0, 0) == firstNumber;
        setRowHidden(row, !shown);
        anyShown = anyShown || shown;
    }
    return anyShown;
}

static const struct {
    const char *format;
    Qt::GlobalColor colour;
} kBarStates[] = {
    {"%p%", Qt::blue},
    {"Version Skipped", Qt::green},
    {"Upload Successful", Qt::green},
    {"Upload Failed", Qt::red},
};

void FixtureTable::setBarState(QProgressBar *bar, BarState state)
{
    const auto &look = kBarStates[int(state)];
    bar->setFormat(look.format);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Highlight, look.colour);
    bar->setPalette(palette);
}

bool FixtureTable::isInState(const QProgressBar *bar, BarState state)
{
    return bar->format() == kBarStates[int(state)].format;
}

void FixtureTable::resetBars()
{
    for (int row = 0; row < rowCount(); ++row) {
        if (QProgressBar *bar = barAt(row)) {
            bar->reset();
            bar->setValue(0);
            setBarState(bar, BarState::Reset);
        }
    }
}

void FixtureTable::selectRowsIn(BarState state)
{
    clearSelection();
    for (int row = 0; row < rowCount(); ++row) {
        if (QProgressBar *bar = barAt(row); bar && isInState(bar, state))
            selectRow(row);
    }
}
