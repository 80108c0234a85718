#include "FixtureTable.h"

#include <algorithm>

#include <QApplication>
#include <QColor>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPalette>
#include <QProgressBar>
#include <QStyledItemDelegate>

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

static const int kReasonColumn = 4;

// A reason is read from its start: what happened comes first, so a cell
// too narrow for it loses its end, not its middle.
class ReasonDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideRight;
    }
};

// Of the bars and reasons: more of a reason fits the column.
QFont FixtureTable::smallFont() const
{
    QFont small = font();
    small.setPointSizeF(font().pointSizeF() * 0.75);
    return small;
}

FixtureTable::FixtureTable(QWidget *parent) : QTableWidget(0, 6, parent)
{
    const QStringList headers = {"Name", "IP", "Version", "Progress", "Reason", "Image"};
    setHorizontalHeaderLabels(headers);
    setSelectionMode(QAbstractItemView::MultiSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    CustomHeaderView *headerView = new CustomHeaderView(Qt::Horizontal, this);
    headerView->setObjectName("headerView");
    setHorizontalHeader(headerView);
    headerView->resizeSection(0, 200);
    headerView->setStretchLastSection(true);
    // The image stands beside the version it would replace.
    headerView->moveSection(kImageColumn, 3);
    setColumnHidden(kImageColumn, true);
    // Rows as high as their text needs, so a rig's rows fit the window; a
    // table never shorter than three of them.
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    verticalHeader()->hide();
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);   // names share their beginnings
    setItemDelegateForColumn(kReasonColumn, new ReasonDelegate(this));
    setMinimumHeight(horizontalHeader()->sizeHint().height() + 3 * verticalHeader()->defaultSectionSize() + 4);
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
            Row added;
            added.fixture = fixture;
            m_rows.append(added);
        } else {
            Row &listed = m_rows[row];
            listed.fixture = fixture;
            if (row < first) {
                item(row, 0)->setText(fixture.name);
                item(row, 2)->setText(fixture.version);
            }
            if (!listed.confirmedVersion.isEmpty() && fixture.version != listed.confirmedVersion) {
                setRowState(row, FixtureState::VersionChanged);
                setRowNote(row, QString("The latest discovery reports version %1, not the %2 its last update "
                                        "confirmed: it may have gone back to its old firmware.")
                                    .arg(fixture.version, listed.confirmedVersion));
            }
        }
    }
    const int added = m_rows.size() - first;
    if (added == 0)
        return 0;

    setRowCount(m_rows.size());
    for (int row = first; row < m_rows.size(); ++row) {
        const DiscoveredFixture &fixture = m_rows[row].fixture;
        const QString texts[6] = {fixture.name, fixture.ip, fixture.version, QString(), QString(), QString()};
        for (int column : {0, 1, 2, kReasonColumn, kImageColumn}) {
            QTableWidgetItem *cell = new QTableWidgetItem(texts[column]);
            cell->setFlags(cell->flags() & ~Qt::ItemIsEditable);
            setItem(row, column, cell);
        }
        // Made in the viewport it will live in: reparenting 1000 bars costs
        // as much as the rest of a large discovery.
        item(row, kReasonColumn)->setFont(smallFont());
        QProgressBar *bar = new QProgressBar(viewport());
        bar->setFont(smallFont());
        bar->setRange(0, 100);
        bar->setValue(0);
        setCellWidget(row, 3, bar);
    }
    fitColumns();
    return added;
}

static const char kNotSeen[] = "Not seen in the latest discovery";

void FixtureTable::markSeen(const QSet<QString> &seen, const QString &interfaceAddress)
{
    const QColor normal = palette().color(QPalette::Text);
    for (int row = 0; row < rowCount(); ++row) {
        const bool wasSeen = seen.contains(m_rows[row].fixture.ip);
        if (wasSeen)
            m_rows[row].foundOn = interfaceAddress;
        else if (m_rows[row].foundOn != interfaceAddress)
            continue;
        m_rows[row].seen = wasSeen;
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
    // The column shows what happened; what to do about it is in the tooltip
    // and the details.
    const qsizetype end = note.indexOf(". ");
    QString shown = end < 0 ? note : note.left(end + 1);
    if (shown.startsWith("The fixture "))
        shown = shown.mid(12, 1).toUpper() + shown.mid(13);
    shown.replace("Came back with version ", "Came back with ");
    item(row, kReasonColumn)->setText(shown);
    item(row, kReasonColumn)->setToolTip(note);
    if (QProgressBar *bar = barAt(row))
        bar->setToolTip(note);
}

// The reason fills what is left: fitted to its sentences, it would push
// the others out of view.
void FixtureTable::fitColumns()
{
    for (int column = 0; column < 3; ++column)
        resizeColumnToContents(column);
    if (libraryMode())
        resizeColumnToContents(kImageColumn);
    setColumnWidth(0, qMin(columnWidth(0), fontMetrics().horizontalAdvance(QString(11, 'n'))));
    setColumnWidth(3, QFontMetrics(smallFont()).horizontalAdvance("Waiting for restart") + 16);
    for (int column = 0; column < m_widths.size() && column < kReasonColumn; ++column)
        setColumnWidth(column, m_widths[column]);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setStretchLastSection(true);
}

QList<int> FixtureTable::columnWidths() const
{
    QList<int> widths;
    for (int column = 0; column < kReasonColumn; ++column)
        widths << columnWidth(column);
    return widths;
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

// Red only for a run that ended in failure; a quiet fixture whose child
// still tries is amber.
static const struct {
    FixtureState state;
    const char *format;
    QColor colour;
} kLooks[] = {
    {FixtureState::Idle, "%p%", Qt::blue},
    {FixtureState::Running, "%p%", Qt::blue},
    {FixtureState::WaitingForRestart, "Waiting for restart", Qt::blue},
    {FixtureState::Stuck, "No reply yet", QColor(230, 150, 0)},
    {FixtureState::Updated, "Upload Successful", Qt::green},
    {FixtureState::Confirmed, "Upload Successful", Qt::green},
    {FixtureState::SkippedAsCurrent, "Version Skipped", Qt::green},
    {FixtureState::DoesNotFit, "Does Not Fit", Qt::darkYellow},
    {FixtureState::ImageConflict, "Image Conflict", Qt::darkYellow},
    {FixtureState::Failed, "Upload Failed", Qt::red},
    {FixtureState::NotStarted, "Not Started", Qt::gray},
    {FixtureState::VersionChanged, "Version Changed", Qt::red},
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
// A quiet fixture's row says in its Reason column which attempt lumiload
// waits for; the note goes when the fixture answers.
void FixtureTable::setRowState(int row, FixtureState state, int attempt)
{
    Row &shown = m_rows[row];
    if (shown.state == state && shown.attempt == attempt)
        return;
    if (state == FixtureState::Stuck)
        setRowNote(row, QString("No reply yet, attempt %1 of 3. lumiload is still trying: leave the fixture "
                                "switched on.").arg(attempt));
    else if (shown.state == FixtureState::Stuck)
        setRowNote(row, QString());
    shown.state = state;
    shown.attempt = attempt;
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

void FixtureTable::selectInView(const QStringList &ips)
{
    clearSelection();
    const QRect view = viewport()->rect();
    for (const QString &ip : ips) {
        const int row = rowOf(ip);
        if (row >= 0 && !isRowHidden(row) && m_rows[row].seen &&
            view.contains(visualRect(model()->index(row, 0))) && view.contains(visualRect(model()->index(row, 1))))
            selectionModel()->select(model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

// The first press of a double-click keeps the selection it found; the
// second press comes within the double-click interval.
void FixtureTable::mousePressEvent(QMouseEvent *event)
{
    const qint64 now = event->timestamp();
    if (now - m_lastPressMs > QApplication::doubleClickInterval() || m_lastPressMs == 0)
        m_selectionBeforeClick = selectionModel()->selection();
    m_lastPressMs = now;
    QTableWidget::mousePressEvent(event);
}

void FixtureTable::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QItemSelection before = m_selectionBeforeClick;
    QTableWidget::mouseDoubleClickEvent(event);
    selectionModel()->select(before, QItemSelectionModel::ClearAndSelect);
    m_lastPressMs = 0;
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
    setRowState(row, progress.state, progress.attempt);
    return true;
}

void FixtureTable::showResult(int row, const FixtureResult &result)
{
    setRowState(row, result.outcome);
    if (result.updated())
        barAt(row)->setValue(barAt(row)->maximum());
    if (!result.versionAfter.isEmpty()) {
        item(row, 2)->setText(result.versionAfter);
        m_rows[row].fixture.version = result.versionAfter;   // its latest word on what it runs
    }
    m_rows[row].confirmedVersion = result.outcome == FixtureState::Confirmed ? result.versionAfter : QString();
    setRowNote(row, result.reason);
    horizontalHeader()->setStretchLastSection(true);
}

void FixtureTable::setLibraryMode(bool on)
{
    if (on == libraryMode())
        return;
    if (!on)
        clearPlans();
    setColumnHidden(kImageColumn, !on);
    fitColumns();
}

void FixtureTable::showPlan(const QList<PlannedImage> &plan)
{
    for (const PlannedImage &planned : plan) {
        const int row = rowOf(planned.ip);
        if (row < 0)
            continue;
        m_rows[row].planned = planned;
        m_rows[row].hasPlan = true;
        showPlannedImage(row);
    }
    markPlannedImages();
    if (libraryMode())
        resizeColumnToContents(kImageColumn);
}

void FixtureTable::clearPlans()
{
    for (int row = 0; row < m_rows.size(); ++row) {
        m_rows[row].hasPlan = false;
        m_rows[row].planned = PlannedImage();
        showPlannedImage(row);
    }
    markPlannedImages();
}

bool FixtureTable::plannedAt(int row, PlannedImage *planned) const
{
    *planned = m_rows.value(row).planned;
    return m_rows.value(row).hasPlan;
}

// "spot.alf 1.0.7", or in words why there is none; empty until a plan
// with the folder names the fixture.
void FixtureTable::showPlannedImage(int row)
{
    QTableWidgetItem *cell = item(row, kImageColumn);
    if (!cell)
        return;
    const Row &shown = m_rows[row];
    const PlannedImage &planned = shown.planned;
    const bool none = shown.hasPlan && !planned.hasImage();
    cell->setText(!shown.hasPlan                                      ? QString()
                  : planned.hasImage()                                ? planned.file + " " + planned.version
                  : planned.action == PlannedImage::Action::Conflict ? "Conflict"
                                                                      : "No image");
    cell->setForeground(none ? QColor(Qt::darkYellow) : palette().color(QPalette::Text));
    cell->setToolTip(planned.why);
}

void FixtureTable::markPlannedImages()
{
    for (int row = 0; row < m_rows.size(); ++row) {
        const Row &shown = m_rows[row];
        const FixtureState state = shown.state;
        if (state != FixtureState::Idle && state != FixtureState::DoesNotFit && state != FixtureState::ImageConflict)
            continue;
        const bool none = libraryMode() && shown.hasPlan && !shown.planned.hasImage();
        const bool conflict = none && shown.planned.action == PlannedImage::Action::Conflict;
        if (none) {
            setRowState(row, conflict ? FixtureState::ImageConflict : FixtureState::DoesNotFit);
            setRowNote(row, conflict ? "Image conflict: " + shown.planned.why + "."
                                     : "No image of the firmware folder fits this fixture: " + shown.planned.why + ".");
        } else if (state != FixtureState::Idle && (libraryMode() || state == FixtureState::ImageConflict)) {
            setRowState(row, FixtureState::Idle);
            setRowNote(row, QString());
        }
    }
}
