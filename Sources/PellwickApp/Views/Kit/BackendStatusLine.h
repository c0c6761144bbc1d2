#pragma once

#include <PellwickCore/Library/LibraryPresentation.h>

#include <QWidget>

namespace Pellwick {

/// The backend's reachability: an 8-pt dot in `dotTone`'s colour and the status text in the
/// caption font, secondary, one line, shrinking to 85 % before it is cut.
class BackendStatusLine : public QWidget
{
    Q_OBJECT

public:
    explicit BackendStatusLine(QWidget *parent = nullptr);

    void setStatus(const QString &text, LibraryPresentationTone dotTone);

    const QString &text() const { return m_text; }

    LibraryPresentationTone dotTone() const { return m_dotTone; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    LibraryPresentationTone m_dotTone = LibraryPresentationTone::Active;
};

} // namespace Pellwick
