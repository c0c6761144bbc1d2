#include "NewImportView.h"

#include <PellwickApp/Views/Kit/PageControls.h>
#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <utility>

namespace Pellwick {

using namespace Qt::StringLiterals;

namespace {

/// The page's card: `controlBackground` in a rectangle rounded by 12.
class SourceCard final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent * /*event*/) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 12, 12);
        painter.fillPath(shape, PellwickTheme::controlBackground());
    }
};

} // namespace

NewImportView::NewImportView(NewImportActions actions, QWidget *parent)
    : PageBackground(parent)
    , m_actions(std::move(actions))
{
    setObjectName(u"page.newImport"_s);
    const auto button = [this](const QString &title,
                               const QString &symbol,
                               std::function<void()> NewImportActions::*action,
                               QWidget *owner) {
        QPushButton *pressed = PageControls::compactButton(title, owner);
        pressed->setIcon(SymbolIcons::icon(symbol));
        connect(pressed, &QPushButton::clicked, this, [this, action] {
            if (m_actions.*action)
                (m_actions.*action)();
        });
        return pressed;
    };

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->viewport()->setAutoFillBackground(false);
    layout->addWidget(scroll);

    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 20);
    column->setSpacing(12);

    auto *header = new PageHeader(u"Add to Ingest Cache"_s,
                                  u"Select an Import Source. Pellwick copies it locally before any "
                                  u"Archive Storage work."_s,
                                  true,
                                  false,
                                  content);
    header->actionBar()->addWidget(
        button(u"Cancel"_s, u"xmark"_s, &NewImportActions::cancel, header));
    header->actionBar()->addStretch(1);
    column->addWidget(header);

    auto *cardPadding = new QHBoxLayout;
    cardPadding->setContentsMargins(20, 0, 20, 0);
    auto *card = new SourceCard(content);
    auto *cardColumn = new QVBoxLayout(card);
    cardColumn->setContentsMargins(20, 20, 20, 20);
    cardColumn->setSpacing(16);
    cardColumn->addWidget(PageControls::headline(u"Select Import Source"_s, card));
    QPushButton *removable = button(u"Scan Removable Media"_s,
                                    u"externaldrive.connected.to.line.below"_s,
                                    &NewImportActions::scanRemovableMedia,
                                    card);
    PellwickControlStyles::pellwickPrimaryButton(*removable);
    cardColumn->addWidget(removable, 0, Qt::AlignLeft);
    cardColumn->addWidget(button(u"Scan All Connected Media"_s,
                                 u"externaldrive"_s,
                                 &NewImportActions::scanAllConnectedMedia,
                                 card),
                          0,
                          Qt::AlignLeft);
    QPushButton *folder
        = button(u"Choose Folder"_s, u"folder"_s, &NewImportActions::chooseFolder, card);
    PageControls::identify(*folder, u"new-import.choose-folder"_s);
    cardColumn->addWidget(folder, 0, Qt::AlignLeft);
    cardPadding->addWidget(card);
    column->addLayout(cardPadding);
    column->addStretch(1);
    scroll->setWidget(content);
}

} // namespace Pellwick
