#include "LibraryOverviewView.h"

#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/StatusBadge.h>
#include <PellwickApp/Views/Kit/UtilityPanel.h>
#include <PellwickApp/Views/Overview/SystemStatusPanel.h>
#include <PellwickCore/Backend/EntitlementState.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace Pellwick {

namespace {

constexpr int meterSteps = 1000;

QLabel *secondaryText(QWidget *parent)
{
    auto *label = new QLabel(parent);
    PellwickTheme::setTextColour(*label, PellwickTheme::secondaryLabel());
    return label;
}

QString cardID(LibraryDashboardCard card)
{
    switch (card) {
    case LibraryDashboardCard::StorageEntitlement:
        return QStringLiteral("overview.storage-entitlement");
    case LibraryDashboardCard::TrialQuota:
        return QStringLiteral("overview.trial-quota");
    case LibraryDashboardCard::PaidPlanStatus:
        return QStringLiteral("overview.paid-plan-status");
    case LibraryDashboardCard::RestoreAllowance:
        return QStringLiteral("overview.restore-allowance");
    case LibraryDashboardCard::SystemStatus:
        break;
    }
    return QStringLiteral("overview.system-status");
}

} // namespace

const QList<LibraryDashboardCard> &LibraryOverviewView::summaryGrid()
{
    static const QList<LibraryDashboardCard> cards{LibraryDashboardCard::StorageEntitlement,
                                                   LibraryDashboardCard::TrialQuota,
                                                   LibraryDashboardCard::PaidPlanStatus,
                                                   LibraryDashboardCard::RestoreAllowance};
    return cards;
}

QString LibraryOverviewView::headerDetail(const AuthenticatedLibrarySession &session)
{
    const LibraryUser &user = session.user;
    return user.displayName.value_or(user.email) + QStringLiteral(" - ") + user.email
           + QStringLiteral(" - Library #") + QString::number(session.library.id);
}

int LibraryOverviewView::columnCount(int contentWidth)
{
    const int available = contentWidth - 2 * gridPadding + gridSpacing;
    return std::max(1, available / (minimumColumnWidth + gridSpacing));
}

LibraryOverviewView::LibraryOverviewView(States states, QWidget *parent)
    : PageBackground(parent)
    , m_states(states)
{
    setObjectName(QStringLiteral("page.overview"));
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    page->addWidget(m_scroll);

    m_content = new QWidget(m_scroll);
    m_content->setAutoFillBackground(false);
    auto *column = new QVBoxLayout(m_content);
    column->setContentsMargins(0, 0, 0, gridPadding);
    column->setSpacing(14);
    m_header = new PageHeader(QStringLiteral("Library"), {}, false, false, m_content);
    column->addWidget(m_header);
    m_readError = new AlertStrip(
        {}, QStringLiteral("exclamationmark.triangle"), LibraryPresentationTone::Danger, m_content);
    m_readError->setObjectName(QStringLiteral("overview.read-error"));
    column->addWidget(m_readError);

    m_grid = new QGridLayout;
    m_grid->setContentsMargins(gridPadding, 0, gridPadding, 0);
    m_grid->setSpacing(gridSpacing);
    column->addLayout(m_grid);
    m_storage = addMeter(LibraryDashboardCard::StorageEntitlement,
                         QStringLiteral("Storage Entitlement"),
                         QStringLiteral("externaldrive.connected.to.line.below"));
    m_trialQuota = addMeter(LibraryDashboardCard::TrialQuota,
                            QStringLiteral("Trial Quota"),
                            QStringLiteral("gauge.with.dots.needle.33percent"));
    auto *plan = new UtilityPanel(
        QStringLiteral("Paid Plan Status"), QStringLiteral("creditcard"), m_content);
    plan->setObjectName(cardID(LibraryDashboardCard::PaidPlanStatus));
    m_planBadge = new StatusBadge({}, LibraryPresentationTone::Secondary, plan);
    m_planBadge->setObjectName(QStringLiteral("overview.paid-plan-status.badge"));
    plan->contentLayout()->addWidget(m_planBadge, 0, Qt::AlignLeft);
    m_planDetail = secondaryText(plan);
    m_planDetail->setObjectName(QStringLiteral("overview.paid-plan-status.detail"));
    m_planDetail->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Caption));
    m_planDetail->setWordWrap(true);
    m_planDetail->setMaximumHeight(2 * m_planDetail->fontMetrics().lineSpacing());
    plan->contentLayout()->addWidget(m_planDetail);
    m_panels.append(plan);
    m_restoreAllowance = addMeter(LibraryDashboardCard::RestoreAllowance,
                                  QStringLiteral("Restore Allowance"),
                                  QStringLiteral("arrow.down.doc"));

    m_systemStatus = new SystemStatusPanel(m_content);
    auto *statusRow = new QVBoxLayout;
    statusRow->setContentsMargins(gridPadding, 0, gridPadding, 0);
    statusRow->addWidget(m_systemStatus);
    column->addLayout(statusRow);
    column->addStretch(1);
    m_scroll->setWidget(m_content);
    m_scroll->viewport()->installEventFilter(this);

    connect(&states.session, &SessionState::sessionChanged, this, [this] {
        updateSession();
        updateStatus();
    });
    for (auto signal : {&ImportState::isScanningImportSourcesChanged,
                        &ImportState::isImportingChanged,
                        &ImportState::isRecoveringInterruptedImportsChanged,
                        &ImportState::importErrorMessageChanged,
                        &ImportState::isImportMessageSuccessChanged,
                        &ImportState::importRecoveryMessageChanged})
        connect(&states.imports, signal, this, &LibraryOverviewView::updateStatus);
    for (auto signal : {&RestoreState::restoreMessageChanged,
                        &RestoreState::activeRestoreRequestChanged,
                        &RestoreState::restoreErrorMessageChanged})
        connect(&states.restore, signal, this, &LibraryOverviewView::updateStatus);
    connect(&states.shell,
            &ShellState::transferProgressesChanged,
            this,
            &LibraryOverviewView::updateStatus);
    connect(&states.session,
            &SessionState::errorMessageChanged,
            this,
            &LibraryOverviewView::updateStatus);
    connect(&states.library,
            &LibraryState::dataFolderErrorMessageChanged,
            this,
            &LibraryOverviewView::updateStatus);
    connect(&states.library,
            &LibraryState::libraryReadErrorMessageChanged,
            this,
            &LibraryOverviewView::updateReadError);
    layOutGrid(m_scroll->viewport()->width());
    updateSession();
    updateStatus();
    updateReadError();
}

LibraryOverviewView::Meter LibraryOverviewView::addMeter(LibraryDashboardCard card,
                                                         const QString &title,
                                                         const QString &symbol)
{
    auto *panel = new UtilityPanel(title, symbol, m_content);
    panel->setObjectName(cardID(card));
    Meter meter;
    meter.bar = new QProgressBar(panel);
    meter.bar->setObjectName(cardID(card) + QStringLiteral(".meter"));
    meter.bar->setRange(0, meterSteps);
    meter.bar->setTextVisible(false);
    meter.bar->setAccessibleName(title);
    panel->contentLayout()->addWidget(meter.bar);
    meter.usage = secondaryText(panel);
    meter.usage->setObjectName(cardID(card) + QStringLiteral(".usage"));
    meter.usage->setWordWrap(true);
    panel->contentLayout()->addWidget(meter.usage);
    m_panels.append(panel);
    return meter;
}

bool LibraryOverviewView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize)
        layOutGrid(m_scroll->viewport()->width());
    return PageBackground::eventFilter(watched, event);
}

void LibraryOverviewView::layOutGrid(int contentWidth)
{
    const int columns = columnCount(contentWidth);
    if (columns == m_columns)
        return;
    m_columns = columns;
    for (QWidget *panel : std::as_const(m_panels))
        m_grid->removeWidget(panel);
    for (int index = 0; index < m_panels.size(); ++index)
        m_grid->addWidget(m_panels.at(index), index / columns, index % columns);
    for (int column = 0; column < int(m_panels.size()); ++column)
        m_grid->setColumnStretch(column, column < columns ? 1 : 0);
}

void LibraryOverviewView::updateSession()
{
    const std::optional<AuthenticatedLibrarySession> &session = m_states.session.session();
    const UserLibrary library = session ? session->library : UserLibrary();
    m_header->setDescription(session ? headerDetail(*session) : QString());

    const auto showMeter = [](const Meter &meter, qint64 used, qint64 limit, const QString &unit) {
        meter.bar->setValue(
            int(std::lround(LibraryPresentation::progressFraction(used, limit) * meterSteps)));
        meter.usage->setText(LibraryPresentation::byteProgressText(used, limit, unit));
    };
    const PaidPlanState &plan = library.paidPlan;
    showMeter(m_storage,
              plan.storageEntitlement.usedBytes,
              plan.storageEntitlement.limitBytes,
              QStringLiteral("Managed Archive Storage"));
    showMeter(m_trialQuota,
              library.trialQuota.usedBytes,
              library.trialQuota.limitBytes,
              QStringLiteral("used"));
    showMeter(m_restoreAllowance,
              plan.restoreAllowance.usedBytes,
              plan.restoreAllowance.limitBytes,
              plan.status == PaidPlanStatus::Trial ? QStringLiteral("restored under Trial Quota")
                                                   : QStringLiteral("restored this plan year"));
    const bool paid = plan.status == PaidPlanStatus::Paid;
    m_planBadge->setText(paid ? QStringLiteral("$249/year active")
                              : QStringLiteral("No active Paid Plan"));
    m_planBadge->setTone(paid ? LibraryPresentationTone::Positive
                              : LibraryPresentationTone::Secondary);
    m_planDetail->setText(LibraryPresentation::paidPlanDetail(plan));
}

void LibraryOverviewView::updateStatus()
{
    m_systemStatus->setSnapshot(SystemStatusSnapshot::read(
        m_states.session, m_states.imports, m_states.restore, m_states.shell, m_states.library));
}

void LibraryOverviewView::updateReadError()
{
    const QString &message = m_states.library.libraryReadErrorMessage();
    m_readError->setAlert(
        message, QStringLiteral("exclamationmark.triangle"), LibraryPresentationTone::Danger);
    m_readError->setVisible(!message.isEmpty());
}

} // namespace Pellwick
