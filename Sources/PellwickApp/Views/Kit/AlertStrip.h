#pragma once

#include <PellwickCore/Library/LibraryPresentation.h>

#include <QWidget>

class QLabel;

namespace Pellwick {

/// A message with its symbol in the tone's colour on the tone at 0.12, in the callout font,
/// wrapping over as many lines as it needs, across the full width.
class AlertStrip : public QWidget
{
    Q_OBJECT

public:
    AlertStrip(const QString &text,
               const QString &systemImage,
               LibraryPresentationTone tone,
               QWidget *parent = nullptr);

    void setAlert(const QString &text, const QString &systemImage, LibraryPresentationTone tone);

    QString text() const;

    LibraryPresentationTone tone() const { return m_tone; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_symbol = nullptr;
    QLabel *m_text = nullptr;
    LibraryPresentationTone m_tone;
};

} // namespace Pellwick
