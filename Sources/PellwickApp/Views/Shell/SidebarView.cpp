#include "SidebarView.h"

#include <PellwickApp/Stores/PellwickIdentity.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QPalette>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace Pellwick {

SidebarView::SidebarView(QWidget *parent)
    : QWidget(parent)
    , m_newImport(new QPushButton(this))
    , m_list(new QListView(this))
    , m_model(new QStandardItemModel(this))
{
    setObjectName(QStringLiteral("sidebar"));
    setWindowTitle(PellwickIdentity::productName());
    setMinimumWidth(240);
    setMaximumWidth(300);
    PellwickTheme::fillBackground(*this, PellwickTheme::graphite());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *heading = new QLabel(PellwickIdentity::productName(), this);
    heading->setObjectName(QStringLiteral("sidebar.title"));
    QFont titleFont = heading->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    heading->setFont(titleFont);
    heading->setContentsMargins(24, 12, 12, 4);
    layout->addWidget(heading);

    m_newImport->setObjectName(QStringLiteral("library.new-import"));
    m_newImport->setText(QStringLiteral("Add to Ingest Cache"));
    m_newImport->setIcon(SymbolIcons::icon(QStringLiteral("plus.circle.fill"), Qt::white));
    m_newImport->setMinimumWidth(144);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(24, 8, 12, 8);
    buttonRow->addWidget(m_newImport);
    layout->addLayout(buttonRow);
    connect(m_newImport, &QPushButton::clicked, this, [this] {
        Q_EMIT sectionChosen(ShellSection::NewImport);
    });

    for (const ShellSection section : sidebarSections()) {
        auto *item = new QStandardItem(SymbolIcons::icon(systemImage(section)), title(section));
        const QString identifier = QStringLiteral("navigation.") + toRaw(section);
        item->setData(identifier, identifierRole);
        item->setData(toRaw(section), sectionRole);
        item->setEditable(false);
        m_model->appendRow(item);
    }
    auto *header = new QStandardItem(QStringLiteral("System"));
    header->setFlags(Qt::NoItemFlags);
    QFont headerFont = header->font();
    headerFont.setBold(true);
    header->setFont(headerFont);
    m_model->appendRow(header);
    const QColor secondary = QApplication::palette().color(QPalette::Disabled, QPalette::Text);
    for (const SidebarSystemLink link : allSidebarSystemLinks()) {
        auto *item
            = new QStandardItem(SymbolIcons::icon(systemImage(link), secondary), title(link));
        item->setFlags(Qt::NoItemFlags);
        m_model->appendRow(item);
    }

    m_list->setObjectName(QStringLiteral("sidebar.list"));
    // Named by the title above it.
    m_list->setAccessibleName(heading->text());
    m_list->setModel(m_model);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSpacing(4);
    m_list->setStyleSheet(QStringLiteral("QListView { padding-left: 16px; padding-right: 4px; }"));
    m_list->setIconSize(QSize(18, 18));
    QPalette listPalette = m_list->palette();
    listPalette.setColor(QPalette::Base, PellwickTheme::graphite());
    listPalette.setColor(QPalette::Highlight, PellwickTheme::accent());
    m_list->setPalette(listPalette);
    layout->addWidget(m_list, 1);
    connect(m_list, &QListView::clicked, this, &SidebarView::chooseRow);
    connect(m_list, &QListView::activated, this, &SidebarView::chooseRow);

    setSelectedSection(m_selectedSection);
}

void SidebarView::setSelectedSection(ShellSection section)
{
    m_selectedSection = section;
    QItemSelectionModel *selection = m_list->selectionModel();
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const QModelIndex index = m_model->index(row, 0);
        if (index.data(sectionRole).toString() == toRaw(section)) {
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            return;
        }
    }
    selection->clearSelection();
    selection->setCurrentIndex({}, QItemSelectionModel::Clear);
}

void SidebarView::chooseRow(const QModelIndex &index)
{
    const std::optional<ShellSection> section
        = shellSectionFromRaw(index.data(sectionRole).toString());
    if (section)
        Q_EMIT sectionChosen(*section);
}

} // namespace Pellwick
