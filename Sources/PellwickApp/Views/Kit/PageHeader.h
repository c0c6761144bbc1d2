#pragma once

#include <QWidget>

class QBoxLayout;
class QHBoxLayout;
class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace Pellwick {

/// The brand mark (28 x 28) and the title in the bold title font, spaced 10. Also the library
/// toolbar's title on its own.
class PageHeaderTitle : public QWidget
{
    Q_OBJECT

public:
    explicit PageHeaderTitle(const QString &title, QWidget *parent = nullptr);

    void setTitle(const QString &title);
    QString title() const;

private:
    QLabel *m_title = nullptr;
};

/// The header of every page: the title row and the wrapping secondary description; then, only
/// when asked for, an action row at least 44 high and a status region exactly 72 high that
/// scrolls its content inside without scroll bars. A region not asked for takes no space.
/// Padding 20, on `graphite` at 0.72 with a 2-pt accent rule along the bottom.
///
/// Compact, for a page short of height: the actions stand at the end of the title row, the
/// padding and spacing shrink, and the status region is as tall as what it shows, up to 72.
class PageHeader : public QWidget
{
    Q_OBJECT

public:
    static constexpr int minimumActionBarHeight = 44;
    static constexpr int statusRegionHeight = 72;

    PageHeader(const QString &title,
               const QString &description,
               bool hasActionBar,
               bool hasStatusRegion,
               QWidget *parent = nullptr);

    void setDescription(const QString &description);

    /// Switches between the compact and the full arrangement (the full one at first).
    virtual void setCompact(bool compact);

    bool isCompact() const { return m_isCompact; }

    /// The row the page adds its actions to; none without an action bar.
    QHBoxLayout *actionBar() const { return m_actions; }

    /// Puts `status` in the status region, replacing what was there. Ignored without one.
    void setStatus(QWidget *status);

    /// The 72-high region; none without one.
    QScrollArea *statusRegion() const { return m_status; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    /// Compact: fits the status region to its content at the current width.
    void fitStatusRegion();

    bool m_isCompact = false;
    QVBoxLayout *m_column = nullptr;
    QVBoxLayout *m_titleBlock = nullptr;
    QHBoxLayout *m_titleRow = nullptr;
    QLabel *m_description = nullptr;
    QWidget *m_actionBar = nullptr;
    QHBoxLayout *m_actions = nullptr;
    QScrollArea *m_status = nullptr;
};

} // namespace Pellwick
