#include <PellwickApp/Views/Library/LibraryDetailViewport.h>

#include <QLabel>
#include <QTest>

using namespace Pellwick;

class LibraryDetailViewportTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void chromeKeepsItsHeight_data()
    {
        QTest::addColumn<int>("windowHeight");
        QTest::newRow("small window") << 300;
        QTest::newRow("grown window") << 900;
    }

    void chromeKeepsItsHeight()
    {
        QFETCH(int, windowHeight);
        auto *chrome = new QLabel(QStringLiteral("Toolbar"));
        chrome->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
        LibraryDetailViewport viewport(chrome, new QWidget);
        viewport.resize(800, windowHeight);
        viewport.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewport));

        QCOMPARE(chrome->height(), chrome->sizeHint().height());
        QCOMPARE(viewport.content()->width(), 800);
        QCOMPARE(viewport.content()->height(), windowHeight - chrome->height());
    }
};

QTEST_MAIN(LibraryDetailViewportTests)
#include "LibraryDetailViewportTests.moc"
