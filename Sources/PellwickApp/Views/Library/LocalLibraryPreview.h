#pragma once

#include <PellwickApp/Workflows/ThumbnailLoader.h>

#include <QCache>
#include <QImage>
#include <QSet>
#include <QString>
#include <QWidget>

#include <optional>

class QPainter;

namespace Pellwick {

/// The thumbnail of one library item's preview file, filling its frame (aspect kept, clipped).
/// Without a preview, while the first load runs and after a failed load it shows the "photo"
/// placeholder. A new preview keeps the previous thumbnail until its own load ends; a result
/// for a preview already replaced, or arriving after the view is gone, is dropped.
class LocalLibraryPreview : public QWidget
{
    Q_OBJECT

public:
    explicit LocalLibraryPreview(QWidget *parent = nullptr);
    explicit LocalLibraryPreview(ThumbnailLoader loader, QWidget *parent = nullptr);

    /// The preview file, or none: then the placeholder shows at once and nothing is read.
    void setPreviewURL(const std::optional<QString> &previewURL);

    const std::optional<QString> &previewURL() const { return m_previewURL; }

    /// The thumbnail of the last load that ended (null when it failed or none ended yet).
    const QImage &image() const { return m_image; }

    bool isShowingPlaceholder() const { return !m_previewURL || m_image.isNull(); }

    /// `image` scaled to fill `frame`, keeping its aspect ratio, centred and clipped to it.
    static void drawFilling(QPainter &painter, const QRect &frame, const QImage &image);
    /// The "photo" symbol, centred in `frame`, in the secondary label colour.
    static void drawPlaceholder(QPainter &painter, const QRect &frame);

    QSize sizeHint() const override;

Q_SIGNALS:
    /// The newest load ended and its thumbnail (or its failure) is shown.
    void loadFinished();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ThumbnailLoader m_loader;
    std::optional<QString> m_previewURL;
    QImage m_image;
    quint64 m_generation = 0;
};

/// Draws the thumbnails of list rows from one bounded cache keyed by preview path, so rows need
/// no widget each. A path not yet loaded draws the placeholder and is loaded once; its row is
/// asked to repaint through `thumbnailLoaded`. Main thread only.
class LocalLibraryPreviewPainter : public QObject
{
    Q_OBJECT

public:
    /// About 36 KiB per thumbnail.
    static constexpr int maximumCachedThumbnails = 2000;

    explicit LocalLibraryPreviewPainter(QObject *parent = nullptr);
    explicit LocalLibraryPreviewPainter(ThumbnailLoader loader, QObject *parent = nullptr);

    void paint(QPainter &painter, const QRect &frame, const std::optional<QString> &previewURL);
    /// Draws the thumbnail of `previewURL` once loaded, else the placeholder; starts no load.
    /// False while no load of it has ended.
    bool paintLoaded(QPainter &painter, const QRect &frame, const QString &previewURL);
    /// Loads `previewURL` unless it is loaded or loading.
    void load(const QString &previewURL);

Q_SIGNALS:
    void thumbnailLoaded(const QString &previewURL);

private:
    ThumbnailLoader m_loader;
    /// A failed load is kept as a null image, so it is not read again at every paint.
    QCache<QString, QImage> m_thumbnails{maximumCachedThumbnails};
    QSet<QString> m_loading;
};

} // namespace Pellwick
