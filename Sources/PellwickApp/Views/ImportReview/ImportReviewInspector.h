#pragma once

#include <PellwickApp/Views/ImportReview/ImportReviewStatusStrip.h>

#include <QList>
#include <QScrollArea>

#include <array>

namespace Pellwick {

class AlertStrip;
class ProgressStatusLine;
class StatusLine;

/// The side panel of the wide Import Review page: "Status", the three running-work lines and the
/// attention count, the alert strips stacked directly (no region of their own) and the guidance
/// sentence; the whole panel scrolls. Shows `importReviewStatusPresentation` of its inputs, like
/// the status strip. Updated in place. Main thread only.
class ImportReviewInspector : public QScrollArea
{
    Q_OBJECT

public:
    explicit ImportReviewInspector(QWidget *parent = nullptr);

    void setInputs(const ImportReviewStatusInputs &inputs);

    const ImportReviewStatusPresentation &presentation() const { return m_presentation; }

    /// The alert strips shown, in order.
    QList<AlertStrip *> shownAlerts() const;

private:
    void present(const ImportReviewStatusPresentation &presentation);

    ImportReviewStatusPresentation m_presentation;
    std::array<ProgressStatusLine *, 3> m_runningLines{};
    StatusLine *m_attentionLine = nullptr;
    std::array<AlertStrip *, 3> m_alerts{};
};

} // namespace Pellwick
