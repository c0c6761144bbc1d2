// pellwick-gallery --out DIR [--appearance light|dark] [--scale 2] [--app-icon FILE]
// Renders every kit component in every state to one PNG each, for people to look at. With
// --app-icon it draws the application picture (the fallback brand mark at 512 px) instead.

#include "Gallery.h"

#include <PellwickApp/Views/Kit/PellwickControlStyles.h>

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Pictures, not windows: no display is needed unless one is asked for.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The scale must be known before the application starts.
    for (int index = 1; index + 1 < argc; ++index) {
        if (qstrcmp(argv[index], "--scale") == 0)
            qputenv("QT_SCALE_FACTOR", argv[index + 1]);
    }
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption out(
        QStringLiteral("out"), QStringLiteral("Folder"), QStringLiteral("dir"));
    const QCommandLineOption appearance(QStringLiteral("appearance"),
                                        QStringLiteral("light or dark (default both)"),
                                        QStringLiteral("appearance"));
    const QCommandLineOption scale(
        QStringLiteral("scale"), QStringLiteral("Scale"), QStringLiteral("factor"));
    const QCommandLineOption appIcon(QStringLiteral("app-icon"),
                                     QStringLiteral("Write the application picture"),
                                     QStringLiteral("file"));
    parser.addOptions({out, appearance, scale, appIcon});
    parser.process(application);

    if (parser.isSet(appIcon))
        return Pellwick::Gallery::writeApplicationIcon(parser.value(appIcon)) ? 0 : 1;
    if (!parser.isSet(out)) {
        std::fprintf(stderr, "pellwick-gallery: --out DIR is required\n");
        return 2;
    }
    Pellwick::PellwickControlStyles::install();
    using Appearance = Pellwick::PellwickTheme::Appearance;
    QList<Appearance> appearances{Appearance::Light, Appearance::Dark};
    if (parser.isSet(appearance)) {
        const QString chosen = parser.value(appearance);
        if (chosen != QStringLiteral("light") && chosen != QStringLiteral("dark")) {
            std::fprintf(stderr, "pellwick-gallery: --appearance is light or dark\n");
            return 2;
        }
        appearances = {chosen == QStringLiteral("light") ? Appearance::Light : Appearance::Dark};
    }
    int written = 0;
    for (const Appearance each : appearances) {
        written += int(Pellwick::Gallery::render(Pellwick::Gallery::kitEntries()
                                                     + Pellwick::Gallery::restoreEntries(),
                                                 each,
                                                 parser.value(out))
                           .size());
    }
    std::printf("pellwick-gallery: %d pictures in %s\n", written, qPrintable(parser.value(out)));
    return 0;
}
