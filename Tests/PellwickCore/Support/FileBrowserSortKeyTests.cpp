#include <PellwickCore/Support/FileBrowserSortKey.h>

#include <QTest>

#include <algorithm>
#include <numeric>

using namespace Pellwick;

class FileBrowserSortKeyTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void orderOfKeysIsAStableSort_data();
    void orderOfKeysIsAStableSort();
};

namespace {

struct OrderRow
{
    QStringList names;
    QStringList folders = {QString()};
};

/// Every name under every folder, the list repeated so that many equal keys meet.
QStringList paths(const OrderRow &row)
{
    QStringList paths;
    for (int copy = 0; copy < 16; ++copy) {
        for (const QString &folder : row.folders) {
            for (const QString &name : row.names)
                paths.append(folder + name);
        }
    }
    return paths;
}

} // namespace

Q_DECLARE_METATYPE(OrderRow)

void FileBrowserSortKeyTests::orderOfKeysIsAStableSort_data()
{
    QTest::addColumn<OrderRow>("row");
    const QStringList tricky{QStringLiteral("img10.CR3"),
                             QStringLiteral("img2.cr3"),
                             QStringLiteral("IMG1.CR3"),
                             QStringLiteral("img01.cr3"),
                             QStringLiteral("img001.CR3"),
                             QStringLiteral("IMG_0001.CR3"),
                             QStringLiteral("Img_0001.cr3"),
                             QStringLiteral("é.cr3"),
                             QStringLiteral("E.cr3"),
                             QStringLiteral("É.CR3"),
                             QStringLiteral("e\u0301.cr3"),
                             QStringLiteral("Straße.cr3"),
                             QStringLiteral("STRASSE.cr3"),
                             QStringLiteral("\uFF21.cr3"),
                             QStringLiteral("😀.cr3"),
                             QStringLiteral("a"),
                             QStringLiteral("a0"),
                             QStringLiteral(""),
                             QStringLiteral("99999999999999999999"),
                             QStringLiteral("9")};
    QTest::newRow("tricky names") << OrderRow{.names = tricky};
    QTest::newRow("tricky names in folders sharing beginnings")
        << OrderRow{.names = tricky,
                    .folders = {QStringLiteral("/media/card/DCIM/100CANON/"),
                                QStringLiteral("/media/card/DCIM/100CANON/sub/"),
                                QStringLiteral("/media/card/DCIM/100canon-2/"),
                                QStringLiteral("/media/card/DCIM/99CANON/")}};
}

void FileBrowserSortKeyTests::orderOfKeysIsAStableSort()
{
    QFETCH(OrderRow, row);
    QList<QString> keys;
    for (const QString &path : paths(row))
        keys.append(fileBrowserSortKey(path));
    std::vector<qsizetype> expected(size_t(keys.size()));
    std::iota(expected.begin(), expected.end(), 0);
    std::stable_sort(expected.begin(), expected.end(), [&keys](qsizetype a, qsizetype b) {
        return keys.at(a) < keys.at(b);
    });
    QCOMPARE(orderOfSortKeys(keys), expected);
}

QTEST_GUILESS_MAIN(FileBrowserSortKeyTests)
#include "FileBrowserSortKeyTests.moc"
