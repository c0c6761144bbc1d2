#include "TransferProgressPresentation.h"

#include <PellwickCore/Library/LibraryPresentation.h>

namespace Pellwick::TransferProgressPresentation {

namespace {

const QString dash = QStringLiteral(" — ");

QString packageSuffix(const TransferProgress &progress)
{
    if (progress.totalPackageCount <= 0)
        return {};
    return QStringLiteral(", ") + QString::number(progress.completedPackageCount)
           + QStringLiteral(" of ") + QString::number(progress.totalPackageCount)
           + QStringLiteral(" packages");
}

QString byteClauses(const TransferProgress &progress)
{
    using LibraryPresentation::byteText;
    QString text;
    if (progress.currentFileCompletedByteCount && progress.currentFileTotalByteCount) {
        text = byteText(*progress.currentFileCompletedByteCount) + QStringLiteral(" of ")
               + byteText(*progress.currentFileTotalByteCount) + QStringLiteral(" current file; ");
    }
    return text + byteText(progress.completedByteCount) + QStringLiteral(" of ")
           + byteText(progress.totalByteCount);
}

QString phaseText(const TransferProgress &progress)
{
    QString name = progress.currentFilename.value_or(QStringLiteral("files"));
    if (progress.currentFileIsPreview && progress.currentFilename)
        name += QStringLiteral(", preview");
    switch (progress.phase) {
    case TransferProgressPhase::Preparing:
        if (progress.detail)
            return QStringLiteral("Preparing — estimated ready ") + *progress.detail;
        return QStringLiteral("Preparing");
    case TransferProgressPhase::Staging:
        return QStringLiteral("Staging ") + name;
    case TransferProgressPhase::Assembling:
        return QStringLiteral("Assembling ") + name;
    case TransferProgressPhase::Verifying:
        return QStringLiteral("Verifying ") + name;
    case TransferProgressPhase::Copying:
        return QStringLiteral("Copying ") + name + dash + byteClauses(progress);
    case TransferProgressPhase::Uploading:
        return QStringLiteral("Uploading ") + name + dash + byteClauses(progress);
    case TransferProgressPhase::Downloading:
        return QStringLiteral("Downloading ") + name + dash + byteClauses(progress);
    }
    return {};
}

} // namespace

QString message(const TransferProgress &progress)
{
    return phaseText(progress) + packageSuffix(progress);
}

} // namespace Pellwick::TransferProgressPresentation
