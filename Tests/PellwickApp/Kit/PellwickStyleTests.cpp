#include "../Gallery/Gallery.h"
#include "../Views/KeyboardNavigation.h"

#include <PellwickApp/Views/Kit/KitAccessibility.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickSelect.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QAccessible>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

using Appearance = PellwickTheme::Appearance;

QColor over(const QColor &colour, qreal opacity, const QColor &background)
{
    return QColor::fromRgbF(colour.redF() * opacity + background.redF() * (1 - opacity),
                            colour.greenF() * opacity + background.greenF() * (1 - opacity),
                            colour.blueF() * opacity + background.blueF() * (1 - opacity));
}

double luminance(const QColor &colour)
{
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF())
           + 0.0722 * channel(colour.blueF());
}

double contrast(const QColor &first, const QColor &second)
{
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

/// `button` alone on a white surface, drawn.
QImage drawn(QPushButton &button)
{
    QWidget surface;
    surface.setAutoFillBackground(true);
    QPalette palette = surface.palette();
    palette.setColor(QPalette::Window, Qt::white);
    surface.setPalette(palette);
    auto *layout = new QHBoxLayout(&surface);
    layout->setContentsMargins(0, 0, 0, 0);
    button.setParent(&surface);
    layout->addWidget(&button);
    surface.adjustSize();
    const QImage image = surface.grab().toImage();
    button.setParent(nullptr);
    return image;
}

/// The first and last columns of the label's ink on `button`'s `fill`, between the paddings.
std::pair<int, int> inkColumns(const QImage &button, const QColor &fill)
{
    int first = button.width();
    int last = -1;
    for (int x = 12; x < button.width() - 12; ++x) {
        for (int y = button.height() / 4; y < button.height() * 3 / 4; ++y) {
            const QColor pixel = button.pixelColor(x, y);
            if (std::abs(pixel.red() - fill.red()) + std::abs(pixel.green() - fill.green())
                    + std::abs(pixel.blue() - fill.blue())
                > 90) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    return {first, last};
}

struct FillCase
{
    PellwickButtonKind kind = PellwickButtonKind::Secondary;
    PellwickButtonRole role = PellwickButtonRole::None;
    bool enabled = true;
    bool pressed = false;
    QColor fill = PellwickTheme::controlSecondary();
};

struct CompactCase
{
    QString text;
    bool label = true;
    int minimumWidth = PellwickControlStyles::compactLabelMinimumWidth;
};

} // namespace

Q_DECLARE_METATYPE(FillCase)
Q_DECLARE_METATYPE(CompactCase)

class PellwickStyleTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() { PellwickControlStyles::install(); }

    void buttonFills_data()
    {
        QTest::addColumn<FillCase>("row");
        const QColor red = PellwickTheme::systemRed(Appearance::Dark);
        QTest::newRow("secondary") << FillCase{};
        QTest::newRow("primary") << FillCase{.kind = PellwickButtonKind::Primary,
                                             .fill = PellwickTheme::accent()};
        QTest::newRow("destructive")
            << FillCase{.role = PellwickButtonRole::Destructive, .fill = red};
        QTest::newRow("cancel keeps the default fill")
            << FillCase{.role = PellwickButtonRole::Cancel};
        QTest::newRow("disabled destructive is never red")
            << FillCase{.role = PellwickButtonRole::Destructive,
                        .enabled = false,
                        .fill = PellwickTheme::controlDisabled()};
        QTest::newRow("disabled primary") << FillCase{.kind = PellwickButtonKind::Primary,
                                                      .enabled = false,
                                                      .fill = PellwickTheme::controlDisabled()};
        QTest::newRow("pressed surface at 0.76")
            << FillCase{.kind = PellwickButtonKind::Primary,
                        .pressed = true,
                        .fill = over(PellwickTheme::accent(), 0.76, Qt::white)};
    }

    void buttonFills()
    {
        QFETCH(FillCase, row);
        const auto draw = [&row](const QString &label) {
            QPushButton button(label);
            PellwickControlStyles::setButtonKind(button, row.kind);
            PellwickControlStyles::setButtonRole(button, row.role);
            button.setEnabled(row.enabled);
            button.setDown(row.pressed);
            return drawn(button);
        };
        const QImage image = draw(u"Restore"_s);
        // Inside the outline and the padding, left of the label.
        const QColor sampled = image.pixelColor(5, image.height() / 2);
        QVERIFY2(std::abs(sampled.red() - row.fill.red()) <= 3
                     && std::abs(sampled.green() - row.fill.green()) <= 3
                     && std::abs(sampled.blue() - row.fill.blue()) <= 3,
                 qPrintable(sampled.name() + u" expected "_s + row.fill.name()));

        // "&" marks the mnemonic and is not drawn: the label's ink spans the same columns as
        // the unmarked one, where a drawn "&" would widen it.
        const QImage marked = draw(u"&Restore"_s);
        QCOMPARE(marked.size(), image.size());
        const auto [markedFirst, markedLast] = inkColumns(marked, sampled);
        const auto [first, last] = inkColumns(image, sampled);
        QVERIFY2(
            std::abs(markedFirst - first) <= 1 && std::abs(markedLast - last) <= 1,
            qPrintable(u"%1-%2 for %3-%4"_s.arg(markedFirst).arg(markedLast).arg(first).arg(last)));
    }

    void secondaryLabelIsReadable_data()
    {
        QTest::addColumn<Appearance>("appearance");
        QTest::newRow("light") << Appearance::Light;
        QTest::newRow("dark") << Appearance::Dark;
    }

    void secondaryLabelIsReadable()
    {
        QFETCH(Appearance, appearance);
        Gallery::applyAppearance(appearance);
        QPushButton button(u"Choose Folder"_s);
        const QImage image = drawn(button);
        QColor lightest = PellwickTheme::controlSecondary();
        for (int y = 4; y < image.height() - 4; ++y) {
            for (int x = 12; x < image.width() - 12; ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (luminance(pixel) > luminance(lightest))
                    lightest = pixel;
            }
        }
        QVERIFY2(contrast(lightest, PellwickTheme::controlSecondary()) >= 4.5,
                 qPrintable(lightest.name()));
    }

    void compactLabelWidth_data()
    {
        QTest::addColumn<CompactCase>("row");
        QTest::newRow("short label is 144 wide") << CompactCase{.text = u"Rescan"_s};
        QTest::newRow("long label grows to its text")
            << CompactCase{.text = u"Reveal Restore Destination in Folder Now"_s};
        QTest::newRow("compact button without the label rule")
            << CompactCase{.text = u"Rescan"_s, .label = false, .minimumWidth = 0};
    }

    void compactLabelWidth()
    {
        QFETCH(CompactCase, row);
        QWidget narrow;
        auto *layout = new QHBoxLayout(&narrow);
        auto *button = new QPushButton(row.text, &narrow);
        PellwickControlStyles::compactActionButton(*button);
        if (row.label)
            PellwickControlStyles::compactActionButtonLabel(*button);
        layout->addWidget(button);
        narrow.resize(60, 40);
        narrow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&narrow));
        const int textWidth = button->fontMetrics().horizontalAdvance(row.text);
        QVERIFY(button->width() >= row.minimumWidth);
        if (row.label)
            QVERIFY(button->width() >= textWidth);
        QCOMPARE(button->height(), PellwickControlStyles::compactButtonHeight);
    }

    void selectorReportsTitleAndValue()
    {
        PellwickSelect select(u"Status"_s);
        select.addChoice(u"All"_s, 0);
        select.addChoice(u"Verified"_s, 1);
        QSignalSpy chosen(&select, &PellwickSelect::selectionChanged);
        select.menu()->actions().at(1)->trigger();
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.first().first().toInt(), 1);
        select.setValue(u"Verified"_s);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&select);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), u"Status"_s);
        QCOMPARE(accessible->text(QAccessible::Value), u"Verified"_s);
    }

    void keyboardReachesAndActivatesKitControls()
    {
        QWidget window;
        auto *layout = new QHBoxLayout(&window);
        auto *first = new QPushButton(u"Rescan"_s, &window);
        auto *disabled = new QPushButton(u"Import"_s, &window);
        disabled->setEnabled(false);
        auto *select = new PellwickSelect(u"Status"_s, &window);
        layout->addWidget(first);
        layout->addWidget(disabled);
        layout->addWidget(select);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        first->setFocus();
        const QList<QWidget *> reached = Test::focusChain(window);
        QCOMPARE(reached, (QList<QWidget *>{select, first}));
        QSignalSpy clicked(first, &QPushButton::clicked);
        Test::activateFocused(Qt::Key_Space);
        QCOMPARE(clicked.size(), 1);
    }
};

QTEST_MAIN(PellwickStyleTests)
#include "PellwickStyleTests.moc"
