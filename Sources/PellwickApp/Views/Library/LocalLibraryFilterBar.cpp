#include "LocalLibraryFilterBar.h"

#include <PellwickApp/Shell/Operations/LibraryOperations.h>
#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Kit/FoldingBox.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickSelect.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>
#include <PellwickCore/Library/LibraryItemImportStatus.h>
#include <PellwickCore/Library/LibraryPresentation.h>
#include <PellwickCore/Library/LocalLibrarySearchQuery.h>
#include <PellwickCore/Support/Date.h>

#include <QDateEdit>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <array>
#include <optional>

namespace Pellwick {

using namespace Qt::StringLiterals;

namespace {

template<typename Enum>
struct Choice
{
    QString text;
    Enum value;
};

const std::array<Choice<LocalLibraryCaptureTimeFilter>, 3> captureTimeChoices{{
    {u"Any Capture Time"_s, LocalLibraryCaptureTimeFilter::Any},
    {u"Date Range"_s, LocalLibraryCaptureTimeFilter::DateRange},
    {u"Unknown Capture Time"_s, LocalLibraryCaptureTimeFilter::Unknown},
}};

const std::array<Choice<LocalLibraryCaptureLocationFilter>, 3> captureLocationChoices{{
    {u"Any Location"_s, LocalLibraryCaptureLocationFilter::Any},
    {u"GPS Known"_s, LocalLibraryCaptureLocationFilter::Known},
    {u"Unknown Location"_s, LocalLibraryCaptureLocationFilter::Unknown},
}};

const std::array<Choice<LocalLibraryDuplicateVisibility>, 3> duplicateChoices{{
    {u"Hide Duplicates"_s, LocalLibraryDuplicateVisibility::Hidden},
    {u"Include Duplicates"_s, LocalLibraryDuplicateVisibility::Included},
    {LocalLibraryFilterBar::onlyDuplicatesText(), LocalLibraryDuplicateVisibility::Only},
}};

const QString allStatusesText = u"All"_s;
const QString allSourcesText = u"All Sources"_s;

template<typename Enum, std::size_t N>
PellwickSelect *enumSelect(const QString &title,
                           const QString &id,
                           const std::array<Choice<Enum>, N> &choices,
                           QWidget *parent)
{
    auto *select = new PellwickSelect(title, parent);
    select->setObjectName(id);
    for (const Choice<Enum> &choice : choices)
        select->addChoice(choice.text, int(choice.value));
    return select;
}

template<typename Enum, std::size_t N>
void showChoice(PellwickSelect &select, const std::array<Choice<Enum>, N> &choices, Enum value)
{
    select.setSelection(int(value));
    for (const Choice<Enum> &choice : choices)
        if (choice.value == value)
            select.setValue(choice.text);
}

QDate localDay(const Date &date)
{
    return date.toDateTime().toLocalTime().date();
}

/// `date` moved to `day`, keeping its local time of day.
Date onDay(const Date &date, QDate day)
{
    QDateTime local = date.toDateTime().toLocalTime();
    local.setDate(day);
    return Date::fromDateTime(local);
}

/// `control` under its title in the caption font, so a closed selector that shows only its
/// value ("All") still says what it filters. Without a title, the same room is left above.
QWidget *titled(const QString &title, QWidget *control, QWidget *parent)
{
    auto *cell = new QWidget(parent);
    auto *column = new QVBoxLayout(cell);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    auto *label = new QLabel(title, cell);
    label->setTextFormat(Qt::PlainText);
    label->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Caption));
    PellwickTheme::setTextColour(*label, PellwickTheme::secondaryLabel());
    label->setBuddy(control);
    label->setFixedHeight(label->fontMetrics().height());
    column->addWidget(label);
    column->addWidget(control, 0, Qt::AlignLeft);
    return cell;
}

QDateEdit *dateEdit(const QString &id, QWidget *parent)
{
    auto *edit = new QDateEdit(parent);
    edit->setObjectName(id);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    return edit;
}

} // namespace

QString LocalLibraryFilterBar::onlyDuplicatesText()
{
    return u"Only Duplicates"_s;
}

LocalLibraryFilterBar::LocalLibraryFilterBar(LibraryState &state,
                                             LibraryOperations &operations,
                                             QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_operations(operations)
{
    m_captureTime = enumSelect(
        u"Capture Time"_s, u"local-library-cache.filter.capture-time"_s, captureTimeChoices, this);
    connect(m_captureTime, &PellwickSelect::selectionChanged, this, [this](const QVariant &value) {
        m_state.setLocalLibraryCaptureTimeFilter(LocalLibraryCaptureTimeFilter(value.toInt()));
    });
    m_captureLocation = enumSelect(u"Capture Location"_s,
                                   u"local-library-cache.filter.capture-location"_s,
                                   captureLocationChoices,
                                   this);
    connect(
        m_captureLocation, &PellwickSelect::selectionChanged, this, [this](const QVariant &value) {
            m_state.setLocalLibraryCaptureLocationFilter(
                LocalLibraryCaptureLocationFilter(value.toInt()));
        });

    m_importStatus = new PellwickSelect(u"Import Status"_s, this);
    m_importStatus->setObjectName(u"local-library-cache.filter.import-status"_s);
    m_importStatus->addChoice(allStatusesText, QVariant());
    for (const LibraryItemImportStatus status : allLibraryItemImportStatuses())
        m_importStatus->addChoice(LibraryPresentation::importStatusTitle(status), int(status));
    connect(m_importStatus, &PellwickSelect::selectionChanged, this, [this](const QVariant &value) {
        m_state.setLocalLibraryImportStatusFilter(
            value.isValid() ? std::optional(LibraryItemImportStatus(value.toInt())) : std::nullopt);
    });

    addImportSourceList();

    m_duplicates = enumSelect(
        u"Duplicates"_s, u"local-library-cache.filter.duplicates"_s, duplicateChoices, this);
    connect(m_duplicates, &PellwickSelect::selectionChanged, this, [this](const QVariant &value) {
        m_state.setLocalLibraryDuplicateVisibility(LocalLibraryDuplicateVisibility(value.toInt()));
    });

    m_reset = new QPushButton(SymbolIcons::icon(u"xmark.circle"_s), u"Reset Filters"_s, this);
    m_reset->setObjectName(u"local-library-cache.reset-filters"_s);
    PellwickControlStyles::compactActionButton(*m_reset);
    PellwickControlStyles::compactActionButtonLabel(*m_reset);
    connect(m_reset, &QPushButton::clicked, this, [this] {
        if (m_operations.hasActiveLocalLibraryFilters())
            m_operations.resetLocalLibraryFilters();
    });

    const auto cell = [this](PellwickMenuSelectorLabel *select) {
        return titled(select->title(), select, this);
    };
    m_rows = new FoldingBox({.spacing = 10, .alignment = Qt::AlignLeft | Qt::AlignVCenter},
                            {.spacing = 8, .alignment = Qt::AlignLeft},
                            this);
    // The popover opens at its minimum size: with room for the filters to fold.
    m_rows->setMinimumIsFolded(true);
    m_rows->addGroup({cell(m_captureTime), cell(m_captureLocation)});
    m_rows->addGroup({cell(m_importStatus),
                      cell(m_importSource),
                      cell(m_duplicates),
                      titled({}, m_reset, this)});

    m_from = dateEdit(u"local-library-cache.filter.from"_s, this);
    m_to = dateEdit(u"local-library-cache.filter.to"_s, this);
    connect(m_from, &QDateEdit::dateChanged, this, [this](QDate day) {
        m_state.setLocalLibraryCaptureTimeStart(onDay(m_state.localLibraryCaptureTimeStart(), day));
    });
    connect(m_to, &QDateEdit::dateChanged, this, [this](QDate day) {
        m_state.setLocalLibraryCaptureTimeEnd(onDay(m_state.localLibraryCaptureTimeEnd(), day));
    });
    auto *dates = new QHBoxLayout;
    dates->setSpacing(12);
    for (auto [text, edit] : {std::pair{u"From"_s, m_from}, std::pair{u"To"_s, m_to}}) {
        auto *label = new QLabel(text, this);
        label->setBuddy(edit);
        dates->addWidget(label);
        dates->addWidget(edit);
    }
    dates->addStretch(1);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(m_rows);
    column->addLayout(dates);

    for (auto signal : {&LibraryState::localLibrarySearchTextChanged,
                        &LibraryState::localLibraryCaptureTimeFilterChanged,
                        &LibraryState::localLibraryCaptureLocationFilterChanged,
                        &LibraryState::localLibraryImportStatusFilterChanged,
                        &LibraryState::localLibraryIngestSourceFilterChanged,
                        &LibraryState::localLibraryDuplicateVisibilityChanged})
        connect(&m_state, signal, this, &LocalLibraryFilterBar::showValues);
    for (auto signal : {&LibraryState::localLibraryCaptureTimeStartChanged,
                        &LibraryState::localLibraryCaptureTimeEndChanged})
        connect(&m_state, signal, this, &LocalLibraryFilterBar::showDates);
    showValues();
    showDates();
}

void LocalLibraryFilterBar::addImportSourceList()
{
    // The names come from a model filled when the menu opens: a library may hold many sources.
    m_importSource = new PellwickMenuSelectorLabel(u"Import Source"_s, {}, this);
    m_importSource->setObjectName(u"local-library-cache.filter.import-source"_s);
    auto *menu = new QMenu(m_importSource);
    m_importSources = new QStringListModel(this);
    m_importSourceList = new QListView;
    m_importSourceList->setObjectName(u"local-library-cache.filter.import-source-list"_s);
    m_importSourceList->setModel(m_importSources);
    m_importSourceList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_importSourceList->setUniformItemSizes(true);
    m_importSourceList->setMinimumWidth(220);
    auto *list = new QWidgetAction(menu);
    list->setDefaultWidget(m_importSourceList);
    menu->addAction(list);
    m_importSource->setMenu(menu);
    connect(menu, &QMenu::aboutToShow, this, &LocalLibraryFilterBar::fillImportSources);
    for (auto signal : {&QListView::clicked, &QListView::activated})
        connect(m_importSourceList, signal, this, &LocalLibraryFilterBar::chooseImportSource);
}

void LocalLibraryFilterBar::fillImportSources()
{
    m_importSources->setStringList(QStringList{allSourcesText}
                                   + m_operations.localLibraryIngestSources());
    const std::optional<QString> &chosen = m_state.localLibraryIngestSourceFilter();
    const QStringList names = m_importSources->stringList();
    const auto row = chosen ? names.indexOf(*chosen, 1) : 0;
    if (row >= 0)
        m_importSourceList->setCurrentIndex(m_importSources->index(int(row)));
    const int rows = int(std::min<qsizetype>(names.size(), 12));
    m_importSourceList->setFixedHeight(rows * m_importSourceList->sizeHintForRow(0) + 4);
}

void LocalLibraryFilterBar::chooseImportSource(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    m_state.setLocalLibraryIngestSourceFilter(
        index.row() == 0 ? std::nullopt : std::optional(index.data().toString()));
    m_importSource->menu()->close();
}

void LocalLibraryFilterBar::showValues()
{
    showChoice(*m_captureTime, captureTimeChoices, m_state.localLibraryCaptureTimeFilter());
    showChoice(
        *m_captureLocation, captureLocationChoices, m_state.localLibraryCaptureLocationFilter());
    showChoice(*m_duplicates, duplicateChoices, m_state.localLibraryDuplicateVisibility());
    const std::optional<LibraryItemImportStatus> &status = m_state.localLibraryImportStatusFilter();
    m_importStatus->setSelection(status ? QVariant(int(*status)) : QVariant());
    m_importStatus->setValue(status ? LibraryPresentation::importStatusTitle(*status)
                                    : allStatusesText);
    // A chosen source that left the library still shows its name.
    m_importSource->setValue(m_state.localLibraryIngestSourceFilter().value_or(allSourcesText));
    m_reset->setEnabled(m_operations.hasActiveLocalLibraryFilters());
    const bool dateRange
        = m_state.localLibraryCaptureTimeFilter() == LocalLibraryCaptureTimeFilter::DateRange;
    m_from->setEnabled(dateRange);
    m_to->setEnabled(dateRange);
}

void LocalLibraryFilterBar::showDates()
{
    const QSignalBlocker fromBlocker(m_from);
    const QSignalBlocker toBlocker(m_to);
    m_from->setDate(localDay(m_state.localLibraryCaptureTimeStart()));
    m_to->setDate(localDay(m_state.localLibraryCaptureTimeEnd()));
}

} // namespace Pellwick
