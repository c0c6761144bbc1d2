#pragma once

#include <PellwickCore/Library/LibraryPresentation.h>

#include <QWidget>

namespace Pellwick {

class BackendStatusLine;

/// The backend's reachability as one toolbar element: assistive technology reads it as
/// "Backend API" with the status text as its value. Object name "backend-status".
class BackendStatusToolbarItem : public QWidget
{
    Q_OBJECT
    Q_CLASSINFO("PellwickAccessibleValue", "true")

public:
    explicit BackendStatusToolbarItem(QWidget *parent = nullptr);

    /// Shows `text` ("Checking backend", "Backend reachable", "Backend unreachable") with its
    /// dot in `dotTone`'s colour.
    void setStatus(const QString &text, LibraryPresentationTone dotTone);

    /// The text shown.
    QString text() const;

private:
    BackendStatusLine *m_line = nullptr;
};

} // namespace Pellwick
