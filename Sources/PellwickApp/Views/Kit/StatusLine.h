#pragma once

#include <PellwickCore/Library/LibraryPresentation.h>

#include <QWidget>

class QLabel;

namespace Pellwick {

/// A title and value in one row, in the caption font: the title secondary, wrapping in at most
/// 110; the value in the tone's colour at medium weight, trailing-aligned, given the rest.
class StatusLine : public QWidget
{
    Q_OBJECT

public:
    static constexpr int maximumTitleWidth = 110;

    StatusLine(const QString &title,
               const QString &value,
               LibraryPresentationTone tone,
               QWidget *parent = nullptr);

    void setLine(const QString &title, const QString &value, LibraryPresentationTone tone);

    QLabel *titleLabel() const { return m_title; }

    QLabel *valueLabel() const { return m_value; }

private:
    QLabel *m_title = nullptr;
    QLabel *m_value = nullptr;
};

} // namespace Pellwick
