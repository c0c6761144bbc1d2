#pragma once

#include <PellwickCore/Ingest/ImportScanVolume.h>

#include <QFrame>
#include <QList>

class QLabel;

namespace Pellwick {

/// The offer to import newly mounted media: a sentence, "Not Now" and "Review Files".
class MountProposalBanner : public QFrame
{
    Q_OBJECT

public:
    explicit MountProposalBanner(QWidget *parent = nullptr);

    void setSources(const QList<ImportScanVolume> &sources);

    const QList<ImportScanVolume> &sources() const { return m_sources; }

    /// "New media detected: <name>" for one source, else "<count> new media sources detected".
    static QString message(const QList<ImportScanVolume> &sources);

    QString message() const { return message(m_sources); }

Q_SIGNALS:
    /// "Review Files" was pressed.
    void reviewRequested();
    /// "Not Now" was pressed.
    void dismissRequested();

private:
    QList<ImportScanVolume> m_sources;
    QLabel *m_message = nullptr;
};

} // namespace Pellwick
