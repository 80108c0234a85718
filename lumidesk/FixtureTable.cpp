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

DiscoveredFixture FixtureTable::fixtureAt(int row) const
{
    return m_rows.value(row).fixture;
}

// The table lays out every cell widget again for each insertion, so a
// thousand single-row insertions would cost a million widget placements:
// the new rows go in together.
int FixtureTable::addFixtures(const QList<DiscoveredFixture> &fixtures)
{
    const int first = rowCount();
    for (const DiscoveredFixture &fixture : fixtures) {
        const int row = rowOf(fixture.ip);
        if (row < 0) {
            m_rowByIp.insert(fixture.ip, m_rows.size());
            m_rows.append({fixture});
        } else {
            m_rows[row].fixture = fixture;
            if (row < first) {
                item(row, 0)->setText(fixture.name);
                item(row, 2)->setText(fixture.version);
            }
        }
    }
    const int added = m_rows.size() - first;
    if (added == 0)
        return 0;

    setRowCount(m_rows.size());
    for (int row = first; row < m_rows.size(); ++row) {
        const DiscoveredFixture &fixture = m_rows[row].fixture;
        const QString texts[3] = {fixture.name, fixture.ip, fixture.version};
        for (int column = 0; column < 3; ++column) {
            QTableWidgetItem *cell = new QTableWidgetItem(texts[column]);
            cell->setFlags(cell->flags() & ~Qt::ItemIsEditable);
            setItem(row, column, cell);
        }
        // Made in the viewport it will live in: reparenting 1000 bars costs
        // as much as the rest of a large discovery.
        QProgressBar *bar = new QProgressBar(viewport());
        bar->setRange(0, 100);
        bar->setValue(0);
        setCellWidget(row, 3, bar);
    }
    fitColumns();
    return added;
}

static const char kNotSeen[] = "Not seen in the latest discovery";

void FixtureTable::markSeen(const QSet<QString> &seen)
{
    const QColor normal = palette().color(QPalette::Text);
    for (int row = 0; row < rowCount(); ++row) {
        const bool wasSeen = seen.contains(m_rows[row].fixture.ip);
        for (int column = 0; column < 3; ++column) {
            QTableWidgetItem *cell = item(row, column);
            cell->setForeground(wasSeen ? normal : QColor(Qt::gray));
            if (!wasSeen || m_rows[row].notSeenNote)
                cell->setToolTip(wasSeen ? QString() : kNotSeen);
        }
        m_rows[row].notSeenNote = !wasSeen;
    }
}

void FixtureTable::setRowNote(int row, const QString &note)
{
    m_rows[row].notSeenNote = false;
    for (int column = 0; column < 3; ++column)
        item(row, column)->setToolTip(note);
    if (QProgressBar *bar = barAt(row))
        bar->setToolTip(note);
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
        const bool shown = m_rows[row].fixture.ip.section('.', 0, 0) == firstNumber;
        setRowHidden(row, !shown);
        anyShown = anyShown || shown;
    }
    return anyShown;
}

static const struct {
    FixtureState state;
    const char *format;
    Qt::GlobalColor colour;
} kLooks[] = {
    {FixtureState::Idle, "%p%", Qt::blue},
    {FixtureState::Running, "%p%", Qt::blue},
    {FixtureState::WaitingForRestart, "Waiting for restart", Qt::blue},
    {FixtureState::Stuck, "Upload Failed", Qt::red},
    {FixtureState::Updated, "Upload Successful", Qt::green},
    {FixtureState::Confirmed, "Upload Successful", Qt::green},
    {FixtureState::SkippedAsCurrent, "Version Skipped", Qt::green},
    {FixtureState::DoesNotFit, "Does Not Fit", Qt::darkYellow},
    {FixtureState::Failed, "Upload Failed", Qt::red},
    {FixtureState::NotStarted, "Not Started", Qt::gray},
};

void FixtureTable::drawBar(int row)
{
    QProgressBar *bar = barAt(row);
    for (const auto &look : kLooks) {
        if (bar && look.state == m_rows[row].state) {
            bar->setFormat(look.format);
            QPalette palette = bar->palette();
            palette.setColor(QPalette::Highlight, look.colour);
            bar->setPalette(palette);
        }
    }
}

// A new row's bar keeps the style's look until its first state of its own.
void FixtureTable::setRowState(int row, FixtureState state)
{
    if (m_rows[row].state == state)
        return;
    m_rows[row].state = state;
    drawBar(row);
}

void FixtureTable::resetBars(const QList<int> &rows)
{
    for (int row : rows) {
        if (QProgressBar *bar = barAt(row)) {
            bar->reset();
            bar->setValue(0);
            m_rows[row].state = FixtureState::Idle;
            drawBar(row);
        }
    }
}

void FixtureTable::selectRowsIn(FixtureState state)
{
    clearSelection();
    for (int row = 0; row < rowCount(); ++row) {
        if (m_rows[row].state == state)
            selectRow(row);
    }
}

void FixtureTable::markImageFit(const FirmwareImage *image)
{
    for (int row = 0; row < rowCount(); ++row) {
        const DiscoveredFixture &fixture = m_rows[row].fixture;
        const bool fits = !image || image->fits(fixture.estaCode, fixture.oemCode);
        if (!fits && m_rows[row].state == FixtureState::Idle) {
            setRowState(row, FixtureState::DoesNotFit);
            setRowNote(row, QString("The chosen image does not fit this fixture (ESTA code 0x%1, OEM code 0x%2).")
                                .arg(fixture.estaCode, 4, 16, QChar('0'))
                                .arg(fixture.oemCode, 4, 16, QChar('0')));
        } else if (fits && m_rows[row].state == FixtureState::DoesNotFit) {
            setRowState(row, FixtureState::Idle);
            setRowNote(row, QString());
        }
    }
}

bool FixtureTable::showProgress(const QString &ip, const FixtureProgress &progress)
{
    const int row = rowOf(ip);
    QProgressBar *bar = row < 0 ? nullptr : barAt(row);
    if (!bar)
        return false;
    if (progress.blockCount > 0 && bar->maximum() != progress.blockCount)
        bar->setRange(0, progress.blockCount);
    bar->setValue(progress.blocks);
    setRowState(row, progress.state);
    return true;
}

void FixtureTable::showResult(int row, const FixtureResult &result)
{
    setRowState(row, result.outcome);
    if (result.updated()) {
        barAt(row)->setValue(barAt(row)->maximum());
        item(row, 2)->setText(result.versionAfter);
    }
    setRowNote(row, result.reason);
    horizontalHeader()->setStretchLastSection(true);
}
