#pragma once

#include <PellwickCore/Ingest/PhotoMetadata.h>
#include <PellwickCore/Ingest/PreviewGenerating.h>
#include <PellwickCore/Library/ImportClock.h>

#include <QByteArray>
#include <QMutex>
#include <QStringList>

#include <optional>

namespace Pellwick::Test {

/// A preview generator that writes fixed bytes as the preview, refuses with a reason, or fails
/// with an error. Records the sources it was asked for.
class StubPreviewGenerator final : public PreviewGenerating
{
public:
    /// Writes `bytes` to the destination.
    static std::shared_ptr<StubPreviewGenerator> writing(QByteArray bytes);
    /// Answers a failure result with `reason`, writing nothing.
    static std::shared_ptr<StubPreviewGenerator> refusing(QString reason);
    /// Fails with `error`.
    static std::shared_ptr<StubPreviewGenerator> failing(Error error);

    Result<PreviewGenerationResult> generatePreview(const QString &source,
                                                    const QString &destination) const override;

    QStringList sources() const;

private:
    std::optional<QByteArray> m_bytes;
    std::optional<QString> m_reason;
    std::optional<Error> m_error;
    mutable QMutex m_mutex;
    mutable QStringList m_sources;
};

/// Answers every file with the same metadata, or fails.
class FixedMetadataExtractor final : public PhotoMetadataExtracting
{
public:
    explicit FixedMetadataExtractor(Result<PhotoMetadata> answer)
        : m_answer(std::move(answer))
    {}

    Result<PhotoMetadata> metadata(const QString &) const override { return m_answer; }

private:
    Result<PhotoMetadata> m_answer;
};

/// A clock that always tells the same date.
class FixedImportClock final : public ImportClock
{
public:
    explicit FixedImportClock(Date date)
        : m_date(date)
    {}

    Date now() const override { return m_date; }

private:
    Date m_date;
};

} // namespace Pellwick::Test
