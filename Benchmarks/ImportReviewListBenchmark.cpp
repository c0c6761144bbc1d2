// pellwick-bench-import-review-list CARD
//     Builds the Import Review of the folder CARD as the shell does, hands it to the Import Review
//     table shown offscreen at 1280 x 800, paints the first screen, jumps to the last row and
//     paints again; prints the number of rows. With --show-time it also prints
//     "import-review-list show: <ms> ms", the time from handing over the review to the first
//     painted screen. Prints "peak RSS: <N> MiB" to standard error when
//     PELLWICK_BENCH_REPORT_RSS is set.

#include "PeakRss.h"

#include <PellwickApp/Views/ImportReview/ImportReviewTable.h>
#include <PellwickApp/Views/ImportReview/ImportReviewTableModel.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickCore/Ingest/ImportReviewBuilder.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

using namespace Pellwick;

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool showTime = argc == 3 && qstrcmp(argv[1], "--show-time") == 0;
    if (argc != 2 && !showTime) {
        std::fputs("usage: pellwick-bench-import-review-list [--show-time] CARD\n", stderr);
        return 2;
    }
    QApplication application(argc, argv);
    PellwickControlStyles::install();
    const ImportReviewBuilder builder(std::make_shared<LocalFileManager>());
    const QString card = QString::fromLocal8Bit(argv[argc - 1]);
    Result<ImportReview> review
        = builder.buildReview({ImportScanVolume{QStringLiteral("CARD"), card, {}, true}});
    if (!review) {
        std::fprintf(stderr, "%s\n", qPrintable(describe(review.error())));
        return 1;
    }

    ImportReviewTable table;
    table.resize(1280, 800);
    table.show();
    QApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    table.setReview(*review);
    const QPixmap first = table.grab();
    const double shownMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    table.list()->scrollToBottom();
    const QPixmap last = table.grab();
    if (first.isNull() || last.isNull())
        return 1;
    std::printf("%d rows\n", table.model()->rowCount());
    if (showTime)
        std::printf("import-review-list show: %.1f ms\n", shownMs);
    Bench::reportPeakRss();
    // Like any command-line tool, leave without taking the review apart.
    std::fflush(stdout);
    std::_Exit(0);
}
