#pragma once

#include <QImage>
#include <QString>

#include <optional>

class QWidget;

namespace Pellwick {

/// The application's picture, "PellwickIcon.png": the compiled-in resource first and, only
/// when that is absent, the installed copy in `<executable folder>/../share/pellwick/`. Decoded
/// on every call; a resource that exists but does not decode gives no image (the installed
/// copy is not tried then). Main thread only.
class PellwickAppIcon
{
public:
    PellwickAppIcon() = delete;

    /// Where the picture is looked up.
    struct Places
    {
        QString resource;
        QString shareFolder;

        bool operator==(const Places &) const = default;
    };

    static Places standardPlaces();
    /// Replaces the places looked up, for tests; `standardPlaces()` restores them.
    static void setPlaces(const Places &places);
    static const Places &places();

    static std::optional<QImage> image();

    /// Sets `window`'s icon to the picture when there is one, else leaves it alone. Returns
    /// whether it was set.
    static bool applyWindowIcon(QWidget &window);
    /// The same for the application's default window icon.
    static bool applyApplicationIcon();
};

} // namespace Pellwick
