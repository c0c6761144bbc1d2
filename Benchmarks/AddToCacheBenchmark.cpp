// pellwick-bench-add-to-cache CARD ROOT
//     Builds the shell view model with an Ingest Cache and a Local Library Cache in a new folder
//     below ROOT, scans the folder CARD and adds its review to the Ingest Cache through the view
//     model and its pools (metadata read as the application reads it), until "Added <n> files to
//     Ingest Cache" is published. The folder is kept: the caller removes it between runs.

#include <PellwickApp/Shell/ShellViewModelFixture.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Workflows/Import/ImportWorkflows.h>
#include <PellwickCore/Ingest/Exiv2PhotoMetadataExtractor.h>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QEventLoop>

#include <cstdio>

using namespace Pellwick;
using namespace Pellwick::Test;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: pellwick-bench-add-to-cache CARD ROOT\n", stderr);
        return 2;
    }
    const QString card = QDir::cleanPath(arguments[1]);
    ShellViewModelFixture fixture(arguments[2]);
    fixture.dir.setAutoRemove(false);
    const QString cache = fixture.dir.filePath(QStringLiteral("IngestCache"));
    fixture.ingestCacheRoot = cache;
    // The records read the metadata of their files as the application's do.
    fixture.metadataExtractor = std::make_shared<Exiv2PhotoMetadataExtractor>();
    QDir().mkpath(cache);
    if (!fixture.locationStore->save(cache))
        return 1;
    const auto model = fixture.make();
    ImportState &state = model->importState();

    model->importWorkflows().scanFolder(card);
    if (state.isScanningImportSources()) {
        QEventLoop scanning;
        QObject::connect(
            &state, &ImportState::isScanningImportSourcesChanged, &scanning, &QEventLoop::quit);
        scanning.exec();
    }
    if (!state.importReviewState().review) {
        std::fputs("the card could not be scanned\n", stderr);
        return 1;
    }
    const qsizetype files = state.importReviewState().review->candidateCount();

    QCoro::waitFor(model->importWorkflows().addReviewToIngestCache());

    const QString expected = QStringLiteral("Added %1 files to Ingest Cache").arg(files);
    if (state.importErrorMessage() != expected) {
        std::fprintf(stderr,
                     "Add to Ingest Cache ended with: %s\n",
                     qPrintable(state.importErrorMessage().value_or(QStringLiteral("nothing"))));
        return 1;
    }
    return 0;
}
