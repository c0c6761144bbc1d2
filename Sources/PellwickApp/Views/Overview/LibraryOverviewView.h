#pragma once

#include <PellwickApp/Views/Kit/PageBackground.h>
#include <PellwickCore/Backend/LibrarySessionTypes.h>

#include <QList>
#include <QString>

class QGridLayout;
class QLabel;
class QProgressBar;
class QScrollArea;

namespace Pellwick {

class AlertStrip;
class ImportState;
class LibraryState;
class PageHeader;
class RestoreState;
class SessionState;
class ShellState;
class StatusBadge;
class SystemStatusPanel;

/// The cards of the Overview page in display order.
enum class LibraryDashboardCard {
    StorageEntitlement,
    TrialQuota,
    PaidPlanStatus,
    RestoreAllowance,
    SystemStatus,
};

/// The Overview page: a "Library" header naming the account and the library, the four account
/// panels (storage entitlement, trial quota, paid plan, restore allowance) in as many 300-wide
/// columns as fit, and the system status panel. Follows the state objects' signals; has no
/// actions. Main thread only.
class LibraryOverviewView final : public PageBackground
{
    Q_OBJECT

public:
    struct States
    {
        SessionState &session;
        ImportState &imports;
        RestoreState &restore;
        ShellState &shell;
        LibraryState &library;
    };

    static constexpr int minimumColumnWidth = 300;
    static constexpr int gridSpacing = 10;
    static constexpr int gridPadding = 20;

    /// The cards of the grid: every card but the system status.
    static const QList<LibraryDashboardCard> &summaryGrid();

    /// The account line under the title: the display name (the email without one), the email
    /// and the library's number.
    static QString headerDetail(const AuthenticatedLibrarySession &session);

    /// How many columns of at least 300 fit in `contentWidth` (always at least one).
    static int columnCount(int contentWidth);

    explicit LibraryOverviewView(States states, QWidget *parent = nullptr);

    /// The columns the grid uses now.
    int shownColumnCount() const { return m_columns; }

    PageHeader *header() const { return m_header; }

    SystemStatusPanel *systemStatus() const { return m_systemStatus; }

    /// The strip that says why the library cannot be read.
    AlertStrip *readErrorStrip() const { return m_readError; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Meter
    {
        QProgressBar *bar = nullptr;
        QLabel *usage = nullptr;
    };

    Meter addMeter(LibraryDashboardCard card, const QString &title, const QString &symbol);
    void updateSession();
    void updateStatus();
    void updateReadError();
    void layOutGrid(int contentWidth);

    States m_states;
    int m_columns = 0;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_content = nullptr;
    PageHeader *m_header = nullptr;
    AlertStrip *m_readError = nullptr;
    QGridLayout *m_grid = nullptr;
    QList<QWidget *> m_panels;
    Meter m_storage;
    Meter m_trialQuota;
    Meter m_restoreAllowance;
    StatusBadge *m_planBadge = nullptr;
    QLabel *m_planDetail = nullptr;
    SystemStatusPanel *m_systemStatus = nullptr;
};

} // namespace Pellwick
