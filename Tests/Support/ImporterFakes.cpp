#include "ImporterFakes.h"

#include <Support/TestFiles.h>

namespace Pellwick::Test {

std::shared_ptr<StubPreviewGenerator> StubPreviewGenerator::writing(QByteArray bytes)
{
    auto generator = std::make_shared<StubPreviewGenerator>();
    generator->m_bytes = std::move(bytes);
    return generator;
}

std::shared_ptr<StubPreviewGenerator> StubPreviewGenerator::refusing(QString reason)
{
    auto generator = std::make_shared<StubPreviewGenerator>();
    generator->m_reason = std::move(reason);
    return generator;
}

std::shared_ptr<StubPreviewGenerator> StubPreviewGenerator::failing(Error error)
{
    auto generator = std::make_shared<StubPreviewGenerator>();
    generator->m_error = std::move(error);
    return generator;
}

Result<PreviewGenerationResult> StubPreviewGenerator::generatePreview(const QString &source,
                                                                      const QString &destination) const
{
    {
        const QMutexLocker lock(&m_mutex);
        m_sources.append(source);
    }
    if (m_error)
        return tl::unexpected<Error>(*m_error);
    if (m_reason)
        return PreviewGenerationResult::failure(*m_reason);
    writeFile(destination, m_bytes.value_or(QByteArray()));
    return PreviewGenerationResult::success();
}

QStringList StubPreviewGenerator::sources() const
{
    const QMutexLocker lock(&m_mutex);
    return m_sources;
}

} // namespace Pellwick::Test
