#include "ImportReviewTableModel.h"

#include <PellwickCore/Support/Overloaded.h>

namespace Pellwick {

using namespace Qt::StringLiterals;

namespace {

/// The folder holding `path`: everything before its last "/", "/" for a file at the root.
QString folderPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? u"/"_s : path.left(slash);
}

QString lastComponent(const QString &path)
{
    const QString name = path.section(u'/', -1);
    return name.isEmpty() ? path : name;
}

} // namespace

ImportReviewTableModel::ImportReviewTableModel(QObject *parent)
    : QAbstractListModel(parent)
{}

ImportReviewRowKind ImportReviewTableModel::rowKind(const ImportReviewItemStatus &status)
{
    return std::visit(Overloaded{
                          [](const ImportReviewItemStatus::Supported &) {
                              return ImportReviewRowKind::Supported;
                          },
                          [](const ImportReviewItemStatus::Unsupported &unsupported) {
                              switch (unsupported.reason) {
                              case ImportReviewUnsupportedReason::UnpairedSidecar:
                                  return ImportReviewRowKind::UnpairedSidecar;
                              case ImportReviewUnsupportedReason::ExcludedBackupTarget:
                                  return ImportReviewRowKind::Excluded;
                              }
                              return ImportReviewRowKind::Excluded;
                          },
                      },
                      status.value);
}

void ImportReviewTableModel::setReview(const std::optional<ImportReview> &review)
{
    // The state publishes equal values too; equal lists sharing their data compare at once.
    if (review == m_review)
        return;
    beginResetModel();
    m_review = review;
    m_items = review ? review->items : QList<ImportReviewItem>{};
    m_rowById.clear();
    endResetModel();
}

std::optional<int> ImportReviewTableModel::rowOf(const QString &id) const
{
    if (m_rowById.isEmpty() && !m_items.isEmpty()) {
        m_rowById.reserve(m_items.size());
        for (int row = 0; row < m_items.size(); ++row)
            m_rowById.insert(m_items[row].id, row);
    }
    const auto found = m_rowById.constFind(id);
    return found == m_rowById.cend() ? std::nullopt : std::optional<int>(*found);
}

int ImportReviewTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant ImportReviewTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ImportReviewItem &item = m_items[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
    case FilenameRole:
        return item.filename;
    case FolderNameRole:
        return lastComponent(folderPath(item.url));
    case FolderPathRole:
        return folderPath(item.url);
    case SidecarTextRole:
        return LibraryPresentation::importReviewSidecarText(item);
    case SidecarIsPrimaryRole:
        return item.status.isSupported() && item.sidecar.has_value();
    case BytesTextRole:
        return LibraryPresentation::importReviewSupportedBytesText(item);
    case BadgeTextRole:
        return LibraryPresentation::importReviewStatusTitle(item.status);
    case BadgeToneRole:
        return QVariant::fromValue(LibraryPresentation::importReviewStatusTone(item.status));
    case DetailTextRole:
        return LibraryPresentation::importReviewStatusDetail(item.status);
    case VolumeNameRole:
        return item.volumeName;
    case RowKindRole:
        return QVariant::fromValue(rowKind(item.status));
    default:
        return {};
    }
}

QHash<int, QByteArray> ImportReviewTableModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    const std::pair<int, const char *> own[]{{FilenameRole, "filename"},
                                             {FolderNameRole, "folderName"},
                                             {FolderPathRole, "folderPath"},
                                             {SidecarTextRole, "sidecarText"},
                                             {SidecarIsPrimaryRole, "sidecarIsPrimary"},
                                             {BytesTextRole, "bytesText"},
                                             {BadgeTextRole, "badgeText"},
                                             {BadgeToneRole, "badgeTone"},
                                             {DetailTextRole, "detailText"},
                                             {VolumeNameRole, "volumeName"},
                                             {RowKindRole, "rowKind"}};
    for (const auto &[role, name] : own)
        names.insert(role, name);
    return names;
}

} // namespace Pellwick
