#include <PellwickApp/Views/Kit/SymbolIcons.h>
#include <PellwickApp/Views/Shell/SidebarView.h>

#include <QFile>
#include <QImage>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

class SidebarViewTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsInOrder_data();
    void rowsInOrder();
    void choosingANavigationRowChoosesItsSection_data();
    void choosingANavigationRowChoosesItsSection();
    void systemRowsCannotBeChosen();
    void newImportButtonChoosesNewImport();
    void sectionsWithoutARowHighlightNothing_data();
    void sectionsWithoutARowHighlightNothing();
    void widthStaysInItsBounds();
    void everySymbolShownHasABundledIcon_data();
    void everySymbolShownHasABundledIcon();
};

void SidebarViewTests::rowsInOrder_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("the list itself") << -1 << u"Pellwick"_s << u""_s << true;
    QTest::newRow("overview") << 0 << u"Overview"_s << u"navigation.overview"_s << true;
    QTest::newRow("library") << 1 << u"Library"_s << u"navigation.localLibraryCache"_s << true;
    QTest::newRow("restore") << 2 << u"Restore"_s << u"navigation.restore"_s << true;
    QTest::newRow("system header") << 3 << u"System"_s << u""_s << false;
    QTest::newRow("system status") << 4 << u"System Status"_s << u""_s << false;
    QTest::newRow("settings") << 5 << u"Settings"_s << u""_s << false;
}

void SidebarViewTests::rowsInOrder()
{
    QFETCH(int, row);
    QFETCH(QString, title);
    QFETCH(QString, identifier);
    QFETCH(bool, enabled);

    SidebarView sidebar;
    QCOMPARE(sidebar.model()->rowCount(), 6);
    if (row < 0) {
        QCOMPARE(sidebar.list()->accessibleName(), title);
        return;
    }
    const QModelIndex index = sidebar.model()->index(row, 0);
    QCOMPARE(index.data().toString(), title);
    QCOMPARE(index.data(SidebarView::identifierRole).toString(), identifier);
    // Screen readers hear the title only, never the identifier.
    QCOMPARE(index.data(Qt::AccessibleDescriptionRole), QVariant());
    QCOMPARE(sidebar.model()->flags(index).testFlag(Qt::ItemIsEnabled), enabled);
    QCOMPARE(sidebar.model()->flags(index).testFlag(Qt::ItemIsSelectable), enabled);
}

void SidebarViewTests::choosingANavigationRowChoosesItsSection_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<ShellSection>("section");

    QTest::newRow("overview") << 0 << ShellSection::Overview;
    QTest::newRow("library") << 1 << ShellSection::LocalLibraryCache;
    QTest::newRow("restore") << 2 << ShellSection::Restore;
}

void SidebarViewTests::choosingANavigationRowChoosesItsSection()
{
    QFETCH(int, row);
    QFETCH(ShellSection, section);

    SidebarView sidebar;
    sidebar.resize(260, 600);
    sidebar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
    QSignalSpy chosen(&sidebar, &SidebarView::sectionChosen);
    const QRect rect = sidebar.list()->visualRect(sidebar.model()->index(row, 0));
    QTest::mouseClick(sidebar.list()->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.first().first().value<ShellSection>(), section);
}

void SidebarViewTests::systemRowsCannotBeChosen()
{
    SidebarView sidebar;
    sidebar.resize(260, 600);
    sidebar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
    QSignalSpy chosen(&sidebar, &SidebarView::sectionChosen);
    for (const int row : {3, 4, 5}) {
        const QRect rect = sidebar.list()->visualRect(sidebar.model()->index(row, 0));
        QTest::mouseClick(sidebar.list()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(sidebar.list()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    QCOMPARE(chosen.size(), 0);
    QCOMPARE(sidebar.selectedSection(), ShellSection::Overview);
}

void SidebarViewTests::newImportButtonChoosesNewImport()
{
    SidebarView sidebar;
    auto *button = sidebar.findChild<QPushButton *>(QStringLiteral("library.new-import"));
    QVERIFY(button);
    QCOMPARE(button->text(), QStringLiteral("Add to Ingest Cache"));
    QSignalSpy chosen(&sidebar, &SidebarView::sectionChosen);
    sidebar.setSelectedSection(ShellSection::NewImport);
    button->click();
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.first().first().value<ShellSection>(), ShellSection::NewImport);
}

void SidebarViewTests::sectionsWithoutARowHighlightNothing_data()
{
    QTest::addColumn<ShellSection>("section");
    QTest::addColumn<int>("highlightedRow");

    QTest::newRow("overview") << ShellSection::Overview << 0;
    QTest::newRow("library") << ShellSection::LocalLibraryCache << 1;
    QTest::newRow("restore") << ShellSection::Restore << 2;
    QTest::newRow("import review") << ShellSection::ImportReview << -1;
    QTest::newRow("new import") << ShellSection::NewImport << -1;
}

void SidebarViewTests::sectionsWithoutARowHighlightNothing()
{
    QFETCH(ShellSection, section);
    QFETCH(int, highlightedRow);

    SidebarView sidebar;
    sidebar.setSelectedSection(ShellSection::Restore);
    sidebar.setSelectedSection(section);
    const QModelIndexList selected = sidebar.list()->selectionModel()->selectedIndexes();
    if (highlightedRow < 0) {
        QVERIFY(selected.isEmpty());
    } else {
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().row(), highlightedRow);
    }
}

void SidebarViewTests::widthStaysInItsBounds()
{
    SidebarView sidebar;
    QCOMPARE(sidebar.minimumWidth(), 240);
    QCOMPARE(sidebar.maximumWidth(), 300);
}

void SidebarViewTests::everySymbolShownHasABundledIcon_data()
{
    QTest::addColumn<QString>("symbol");

    QStringList symbols{u"arrow.clockwise"_s,
                        u"creditcard"_s,
                        u"person.crop.circle.badge.gearshape"_s,
                        u"key"_s,
                        u"externaldrive.connected.to.line.below"_s};
    for (const ShellSection section : allShellSections())
        symbols.append(systemImage(section));
    for (const SidebarSystemLink link : allSidebarSystemLinks())
        symbols.append(systemImage(link));
    for (const QString &symbol : symbols)
        QTest::newRow(qPrintable(symbol)) << symbol;
}

void SidebarViewTests::everySymbolShownHasABundledIcon()
{
    QFETCH(QString, symbol);

    QVERIFY(SymbolIcons::resourcePath(symbol));
    QVERIFY(QFile::exists(*SymbolIcons::resourcePath(symbol)));
    const QIcon icon = SymbolIcons::icon(symbol, Qt::black);
    QVERIFY(!icon.isNull());
    // Drawn, not blank.
    const QImage image = icon.pixmap(24, 24).toImage();
    bool drawn = false;
    for (int y = 0; y < image.height() && !drawn; ++y) {
        for (int x = 0; x < image.width() && !drawn; ++x)
            drawn = qAlpha(image.pixel(x, y)) > 0;
    }
    QVERIFY(drawn);
    QVERIFY(!SymbolIcons::resourcePath(u"no.such.symbol"_s));
}

QTEST_MAIN(SidebarViewTests)
#include "SidebarViewTests.moc"
