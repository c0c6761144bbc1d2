#pragma once

#include <PellwickCore/Library/LibraryPresentation.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QLocale>
#include <QScrollArea>
#include <QSet>
#include <QTimeZone>

#include <optional>

class QLabel;

namespace Pellwick {

class AlertStrip;
class ElidedLabel;
class StatusLine;

/// The inspector of the Local Library Cache page: the inspected item's two filenames, whether
/// its source media may be erased, its import and restore state and its capture metadata, or a
/// hint without an item. Reads only the record it is given; has no actions.
class LocalLibraryInspector : public QScrollArea
{
    Q_OBJECT

public:
    /// The text, symbol and tone of the source-media safety strip.
    struct SafetyAlert
    {
        QString text;
        QString systemImage;
        LibraryPresentationTone tone = LibraryPresentationTone::Attention;

        bool operator==(const SafetyAlert &) const = default;
    };

    explicit LocalLibraryInspector(QWidget *parent = nullptr);

    /// Shows `item`, or the hint without one; the widgets are updated in place.
    /// `unfinishedBatches` are the Ingest Cache batch folders whose copy-in has not finished.
    void setItem(const std::optional<LocalLibraryItem> &item,
                 const QSet<QString> &unfinishedBatches = {});

    const std::optional<LocalLibraryItem> &item() const { return m_item; }

    // The texts and tones, pure functions of the item.

    static QString statusTitle(const LocalLibraryItem &item);
    /// Secondary without an item.
    static LibraryPresentationTone statusTone(const std::optional<LocalLibraryItem> &item);
    /// "None" without an item or without a restore status.
    static QString restoreStatusText(const std::optional<LocalLibraryItem> &item);
    static LibraryPresentationTone restoreTone(const std::optional<LocalLibraryItem> &item);
    static SafetyAlert safetyAlert(const LocalLibraryItem &item);
    /// The capture time in `locale` and `zone`: the date abbreviated without weekday, then the
    /// short time ("Jun 1, 2026, 3:04 PM"); "Unknown Capture Time" when unknown or without item.
    static QString captureTimeText(const std::optional<LocalLibraryItem> &item,
                                   const QLocale &locale = QLocale(),
                                   const QTimeZone &zone = QTimeZone::systemTimeZone());
    /// "GPS Known" or "Unknown Location"; coordinates are never shown.
    static QString locationText(const LocalLibraryItem &item);

private:
    std::optional<LocalLibraryItem> m_item;
    QLabel *m_hint = nullptr;
    QWidget *m_details = nullptr;
    ElidedLabel *m_originalFilename = nullptr;
    AlertStrip *m_safety = nullptr;
    StatusLine *m_importStatus = nullptr;
    QLabel *m_attentionReason = nullptr;
    StatusLine *m_restore = nullptr;
    StatusLine *m_captureTime = nullptr;
    StatusLine *m_captureLocation = nullptr;
    ElidedLabel *m_canonicalFilename = nullptr;
};

} // namespace Pellwick
