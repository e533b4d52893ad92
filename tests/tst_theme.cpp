#include "LoopbackOnly.h"

#include "app/WheelGuard.h"
#include "i18n/LanguageManager.h"
#include "i18n/QtTranslations.h"
#include "websocket/WebSocketWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QtTest/qtestspontaneevent.h>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QString darkTheme()
{
    QFile file(u":/styles/DarkTheme.qss"_s);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A wheel turn down as the window system delivers it: to the widget under the
// pointer, then to its parents for as long as each one ignores it.
void turnWheelDown(QWidget* target)
{
    const QPoint centre = target->rect().center();
    QWidget* receiver = target->childAt(centre) ? target->childAt(centre) : target;
    const QPointF local = receiver->mapFrom(target, centre);
    QWheelEvent event(local, receiver->mapToGlobal(local), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(receiver, &event);
}

QVariant valueOf(const QWidget* box)
{
    if (auto* combo = qobject_cast<const QComboBox*>(box))
        return combo->currentIndex();
    return qobject_cast<const QSpinBox*>(box)->value();
}

bool near(QRgb pixel, QColor colour)
{
    return qAbs(qRed(pixel) - colour.red()) <= 12 && qAbs(qGreen(pixel) - colour.green()) <= 12 &&
           qAbs(qBlue(pixel) - colour.blue()) <= 12;
}

// Pixels of the colour in each row of the area, rows without any left out.
QList<int> rowWidths(const QImage& image, const QRect& area, QColor colour)
{
    QList<int> widths;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        int count = 0;
        for (int x = area.left(); x <= area.right(); ++x)
            count += near(image.pixel(x, y), colour);
        if (count > 0)
            widths.append(count);
    }
    return widths;
}

QByteArray describe(const QList<int>& widths)
{
    QByteArray text = "row widths:";
    for (int width : widths)
        text += ' ' + QByteArray::number(width);
    return text;
}

QImage picture(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

const QColor kArrow(0x94, 0xA3, 0xB8);
const QColor kAccent(0x00, 0xD4, 0xFF);

} // namespace

class ThemeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        keepNetworkOnLoopback();
    }

    void cleanup()
    {
        LanguageManager::setEnglish(false);
        qApp->setStyleSheet(QString());
    }

    void shouldDrawArrowsAndMarksThatTellTheState()
    {
        qApp->setStyleSheet(darkTheme());
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* spin = new QSpinBox(&window);
        spin->setRange(0, 10);
        spin->setValue(5);
        auto* combo = new QComboBox(&window);
        combo->addItems({u"UTF-8"_s, u"GBK"_s});
        auto* checked = new QCheckBox(u"开"_s, &window);
        checked->setChecked(true);
        auto* unchecked = new QCheckBox(u"关"_s, &window);
        auto* radioOn = new QRadioButton(u"开"_s, &window);
        radioOn->setChecked(true);
        auto* radioOff = new QRadioButton(u"关"_s, &window);
        radioOff->setAutoExclusive(false);
        for (QWidget* w : QList<QWidget*>{spin, combo, checked, unchecked, radioOn, radioOff})
            layout->addWidget(w);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Arrows: triangles in the 20px buttons, wide at the base, narrow at the tip.
        const QImage spinImage = picture(spin);
        const int half = spinImage.height() / 2;
        const QList<int> up =
            rowWidths(spinImage, QRect(spinImage.width() - 20, 0, 20, half), kArrow);
        const QList<int> down = rowWidths(
            spinImage, QRect(spinImage.width() - 20, half, 20, spinImage.height() - half), kArrow);
        QVERIFY2(up.size() >= 3 && up.first() < up.last(), describe(up).constData());
        QVERIFY2(down.size() >= 3 && down.first() > down.last(), describe(down).constData());
        const QImage comboImage = picture(combo);
        const QList<int> arrow = rowWidths(
            comboImage, QRect(comboImage.width() - 24, 0, 24, comboImage.height()), kArrow);
        QVERIFY2(arrow.size() >= 3 && arrow.first() > arrow.last(), describe(arrow).constData());

        // Inside the 18px indicator at the left end, clear of its border,
        // which is cyan too when checked.
        const auto markPixels = [](QWidget* button) {
            const QImage image = picture(button);
            const QList<int> rows =
                rowWidths(image, QRect(4, image.height() / 2 - 4, 10, 8), kAccent);
            return std::accumulate(rows.begin(), rows.end(), 0);
        };
        QVERIFY(markPixels(checked) >= 5);
        QCOMPARE(markPixels(unchecked), 0);
        QVERIFY(markPixels(radioOn) >= 5);
        QCOMPARE(markPixels(radioOff), 0);
    }

    void shouldFindEveryPictureTheSheetNamesAtBothScales()
    {
        static const QRegularExpression url(u"url\\((:/[^)]+)\\.png\\)"_s);
        int count = 0;
        for (auto it = url.globalMatch(darkTheme()); it.hasNext(); ++count) {
            const QString path = it.next().captured(1);
            const QImage normal(path + u".png"_s);
            QVERIFY2(!normal.isNull(), qPrintable(path));
            QCOMPARE(QImage(path + u"@2x.png"_s).size(), normal.size() * 2);
        }
        QVERIFY2(count > 0, "the sheet names no pictures");
    }

    void shouldPassTheWheelToTheSettingsColumnUnlessFocused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("focused");
        QTest::newRow("combo") << u"encodingCombo"_s << false;
        QTest::newRow("spin box") << u"lineSpacingSpin"_s << false;
        QTest::newRow("focused combo") << u"encodingCombo"_s << true;
        QTest::newRow("focused spin box") << u"lineSpacingSpin"_s << true;
    }

    void shouldPassTheWheelToTheSettingsColumnUnlessFocused()
    {
        QFETCH(QString, name);
        QFETCH(bool, focused);
        WebSocketWidget window;
        window.resize(900, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* column = window.findChild<QScrollArea*>(u"settingsScroll"_s);
        auto* box = window.findChild<QWidget*>(name);
        QVERIFY(column && box);
        QScrollBar* bar = column->verticalScrollBar();
        QVERIFY2(bar->maximum() > 0, "the column must be able to scroll");

        QWidget* focus = focused ? box : window.findChild<QWidget*>(u"sendEdit"_s);
        focus->setFocus();
        QTRY_VERIFY(focus->hasFocus());
        const QVariant before = valueOf(box);
        turnWheelDown(box);

        if (focused) {
            QVERIFY(valueOf(box) != before);
            QCOMPARE(bar->value(), 0);
        } else {
            QCOMPARE(valueOf(box), before);
            QVERIFY(bar->value() > 0);
            // A real wheel would otherwise hand it the focus first.
            QCOMPARE(box->focusPolicy(), Qt::StrongFocus);
        }
    }

    void shouldGuardBoxesAddedToTheTreeLater()
    {
        QScrollArea area;
        auto* content = new QWidget;
        content->setFixedSize(200, 2000);
        area.setWidget(content);
        area.resize(240, 300);
        WheelGuard::install(&area);
        auto* combo = new QComboBox(content);
        combo->addItems({u"a"_s, u"b"_s});
        combo->move(10, 10);
        area.show();
        QVERIFY(QTest::qWaitForWindowActive(&area));
        area.setFocus(); // the combo box, first in the chain, had it
        QTRY_VERIFY(!combo->hasFocus());

        turnWheelDown(combo);
        QCOMPARE(combo->currentIndex(), 0);
        QVERIFY(area.verticalScrollBar()->value() > 0);
        QCOMPARE(combo->focusPolicy(), Qt::StrongFocus);
    }

    void shouldSpeakTheInterfaceLanguageInQtsOwnTexts()
    {
        const auto cancel = [] {
            return QCoreApplication::translate("QPlatformTheme", "Cancel");
        };
        {
            QTemporaryDir empty;
            QtTranslations missing(empty.path());
            QVERIFY(!missing.isLoaded());
            QCOMPARE(cancel(), u"Cancel"_s);
            LanguageManager::setEnglish(true);
            LanguageManager::setEnglish(false);
            QCOMPARE(cancel(), u"Cancel"_s);
        }
        const QString directory = QtTranslations::systemDirectory();
        if (!QFile::exists(directory + u"/qtbase_zh_CN.qm"_s))
            QSKIP("Qt's Chinese catalogue is not installed (qt6-translations-l10n)");

        QtTranslations translations(directory);
        QCOMPARE(cancel(), u"取消"_s);
        QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        QPushButton* button = buttons.button(QDialogButtonBox::Cancel);
        QCOMPARE(button->text(), u"取消"_s);

        LanguageManager::setEnglish(true);
        QCOMPARE(cancel(), u"Cancel"_s);
        QTRY_COMPARE(button->text(), u"Cancel"_s); // an open dialog follows
        LanguageManager::setEnglish(false);
        QCOMPARE(cancel(), u"取消"_s);
        QTRY_COMPARE(button->text(), u"取消"_s);
    }
};

QTEST_MAIN(ThemeTest)
#include "tst_theme.moc"
