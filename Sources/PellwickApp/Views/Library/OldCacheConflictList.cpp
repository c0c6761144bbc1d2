#include "OldCacheConflictList.h"

#include <PellwickApp/Shell/Operations/IngestCacheOperations.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickCore/Ingest/IngestCacheMigration.h>

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <utility>

namespace Pellwick {

using namespace Qt::StringLiterals;

OldCacheConflictList::OldCacheConflictList(IngestCacheState &state,
                                           IngestCacheOperations &operations,
                                           QWidget *parent)
    : QDialog(parent)
    , m_state(state)
    , m_operations(operations)
    , m_paths(new QStringListModel(this))
    , m_list(new QListView(this))
{
    setObjectName(u"local-library-cache.old-cache-conflicts"_s);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"Old Cache Conflicts"_s);
    auto *title = new QLabel(u"Old Cache Conflicts"_s, this);
    title->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Headline));
    m_list->setObjectName(u"local-library-cache.old-cache-conflicts.list"_s);
    m_list->setModel(m_paths);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(true);

    struct Choice
    {
        QString text;
        QString id;
        IngestCacheMigrationConflictResolution keeping;
    };

    const std::array<Choice, 3> choices{{
        {u"Keep Old"_s, u"keep-old"_s, IngestCacheMigrationConflictResolution::KeepOld},
        {u"Keep New"_s, u"keep-new"_s, IngestCacheMigrationConflictResolution::KeepNew},
        {u"Keep Both"_s, u"keep-both"_s, IngestCacheMigrationConflictResolution::KeepBoth},
    }};
    auto *buttons = new QHBoxLayout;
    for (const Choice &choice : choices) {
        auto *button = new QPushButton(choice.text, this);
        button->setObjectName(choice.id);
        m_choices.append(button);
        buttons->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, keeping = choice.keeping] {
            const QModelIndex current = m_list->currentIndex();
            const QList<IngestCacheMigrationConflict> &conflicts
                = m_state.retainedIngestCacheConflicts();
            if (!current.isValid() || current.row() >= conflicts.size())
                return;
            m_operations.resolveRetainedIngestCacheConflict(conflicts.at(current.row()), keeping);
        });
    }
    buttons->addStretch(1);
    auto *done = new QPushButton(u"Done"_s, this);
    done->setObjectName(u"done"_s);
    // Return closes the list; it never picks a side of a conflict for the user.
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(done);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 16);
    column->setSpacing(10);
    column->addWidget(title);
    column->addWidget(m_list, 1);
    column->addLayout(buttons);
    resize(520, 320);

    connect(m_list->selectionModel(),
            &QItemSelectionModel::currentChanged,
            this,
            &OldCacheConflictList::updateButtons);
    connect(&m_state,
            &IngestCacheState::retainedIngestCacheConflictsChanged,
            this,
            &OldCacheConflictList::showConflicts);
    showConflicts();
}

void OldCacheConflictList::present()
{
    if (!isVisible() && m_paths->rowCount() > 0)
        open();
}

void OldCacheConflictList::showConflicts()
{
    QStringList paths;
    for (const IngestCacheMigrationConflict &conflict : m_state.retainedIngestCacheConflicts())
        paths.append(conflict.relativePath);
    if (paths == m_paths->stringList())
        return;
    const int row = m_list->currentIndex().row();
    m_paths->setStringList(paths);
    if (!paths.isEmpty())
        m_list->setCurrentIndex(m_paths->index(std::clamp(row, 0, int(paths.size()) - 1)));
    else
        hide();
    updateButtons();
}

void OldCacheConflictList::updateButtons()
{
    for (QPushButton *button : std::as_const(m_choices))
        button->setEnabled(m_list->currentIndex().isValid());
}

} // namespace Pellwick
