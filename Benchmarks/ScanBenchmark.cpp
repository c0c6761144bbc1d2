// Builds the Import Review of one folder, as the shell does for a card, and prints its totals.
#include <PellwickCore/Ingest/ImportReviewBuilder.h>

#include <QTextStream>

int main(int argc, char **argv)
{
    if (argc != 2) {
        QTextStream(stderr) << "usage: pellwick-bench-scan FOLDER\n";
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const Pellwick::ImportReviewBuilder builder(std::make_shared<Pellwick::LocalFileManager>());
    const Pellwick::Result<Pellwick::ImportReview> review
        = builder.buildReview({Pellwick::ImportScanVolume{QStringLiteral("CARD"), root, {}}});
    if (!review) {
        QTextStream(stderr) << Pellwick::describe(review.error()) << '\n';
        return 1;
    }
    QTextStream(stdout) << review->items.size() << " items, " << review->candidateCount()
                        << " candidates, " << review->totalSupportedBytes() << " bytes\n";
    return 0;
}
