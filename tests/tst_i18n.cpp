#include "i18n/LanguageManager.h"
#include "i18n/QtTranslations.h"
#include "i18n/Retranslate.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A small window with one widget of every walked kind and every skipped one.
struct Tree
{
    std::unique_ptr<QWidget> root = std::make_unique<QWidget>();
    QLabel* label = new QLabel(u"编码"_s, root.get());
    QPushButton* push = new QPushButton(u"连接"_s, root.get());
    QCheckBox* check = new QCheckBox(u"十六进制显示"_s, root.get());
    QRadioButton* radio = new QRadioButton(u"WebSocket 客户端"_s, root.get());
    QGroupBox* group = new QGroupBox(u"连接设置"_s, root.get());
    QLabel* nestedLabel = new QLabel(u"服务器地址"_s, group);
    QTabWidget* tabs = new QTabWidget(root.get());
    QLineEdit* line = new QLineEdit(root.get());
    QPlainTextEdit* plain = new QPlainTextEdit(root.get());
    QComboBox* shortCombo = new QComboBox(group);
    QComboBox* longCombo = new QComboBox(root.get());
    QList<QLabel*> glyphs;

    Tree()
    {
        root->setWindowTitle(u"WebSocket调试助手"_s);
        new QLabel(u"  未知 文本 "_s, root.get());
        for (const QString& text : {QString(), u"◆"_s, u"  "_s, u"●"_s, u"○"_s, u"●连接"_s})
            glyphs << new QLabel(text, root.get());
        tabs->addTab(new QWidget, u"通信日志"_s);
        tabs->addTab(new QWidget, QString());
        tabs->addTab(new QWidget, u"数据图表"_s);
        line->setPlaceholderText(u"例: temperature 或 data\\.value"_s);
        plain->setPlaceholderText(u"输入要发送的数据..."_s);
        // 19 items are still walked, 20 are a list of names.
        for (int i = 0; i < 19; ++i) {
            shortCombo->addItem(i == 18 ? u"折线图"_s : u"项目%1"_s.arg(i));
            longCombo->addItem(u"项目%1"_s.arg(i));
        }
        longCombo->addItem(u"折线图"_s);
        LanguageManager::addListener(root.get(), [this] { retranslateWidgetTree(root.get()); });
    }
};

// Every text a walk may touch, in tree order.
QStringList snapshot(QWidget* root)
{
    QStringList texts{root->windowTitle()};
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (auto* l = qobject_cast<QLabel*>(w))
            texts << l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            texts << b->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            texts << g->title();
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            texts << e->placeholderText();
        else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
            texts << p->placeholderText();
        else if (auto* tabs = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
        else if (auto* combo = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
    }
    return texts;
}

QString darkTheme()
{
    QFile file(u":/styles/DarkTheme.qss"_s);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Rows of the widget's area holding pixels of the colour, with their count.
QList<int> rowWidths(QWidget* widget, const QRect& area, QRgb colour)
{
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto near = [](int a, int b) {
        return qAbs(a - b) <= 12;
    };
    QList<int> widths;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        int count = 0;
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            count += near(qRed(p), qRed(colour)) && near(qGreen(p), qGreen(colour)) &&
                     near(qBlue(p), qBlue(colour));
        }
        if (count > 0)
            widths.append(count);
    }
    return widths;
}

} // namespace

class TestI18n : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(!LanguageManager::isEnglish());
        QCOMPARE(LanguageManager::dictionarySize(), 287);
    }

    void cleanup()
    {
        LanguageManager::setEnglish(false);
        qApp->setStyleSheet(QString());
    }

    void shouldTranslateEveryWalkedKindAndRestoreItExactly()
    {
        Tree t;
        const QStringList chinese = snapshot(t.root.get());
        retranslateWidgetTree(t.root.get()); // Chinese, nothing saved: no change
        QCOMPARE(snapshot(t.root.get()), chinese);
        QVERIFY(!t.label->property("origText").isValid());

        for (int round = 0; round < 2; ++round) {
            LanguageManager::setEnglish(true);
            QCOMPARE(t.root->windowTitle(), u"WebSocket Debug Tool"_s);
            QCOMPARE(t.label->text(), u"Encoding"_s);
            QCOMPARE(t.push->text(), u"Connect"_s);
            QCOMPARE(t.check->text(), u"Hex Display"_s);
            QCOMPARE(t.radio->text(), u"WebSocket Client"_s);
            QCOMPARE(t.group->title(), u"Connection"_s);
            QCOMPARE(t.nestedLabel->text(), u"Server URL"_s);
            QCOMPARE(t.tabs->tabText(0), u"Log"_s);
            QCOMPARE(t.tabs->tabText(2), u"Chart"_s);
            QCOMPARE(t.line->placeholderText(), u"e.g. temperature or data\\.value"_s);
            QCOMPARE(t.plain->placeholderText(), u"Enter data to send..."_s);
            QCOMPARE(t.shortCombo->itemText(18), u"Line Chart"_s);
            QCOMPARE(t.longCombo->itemText(19), u"折线图"_s);
            // Skipped texts get no saved property.
            for (QLabel* glyph : std::as_const(t.glyphs))
                QCOMPARE(glyph->property("origText").isValid(), glyph->text() == u"●连接"_s);
            QVERIFY(!t.tabs->property("tab1").isValid());
            QVERIFY(!t.longCombo->property("origItem0").isValid());

            LanguageManager::setEnglish(false);
            QCOMPARE(snapshot(t.root.get()), chinese);
        }
    }

    void shouldKeepFirstSavedTextAndSkipEmptyTextsOnTheWayBack()
    {
        Tree t;
        LanguageManager::setEnglish(true);
        t.push->setText(u"断开"_s); // plain code sets Chinese
        retranslateWidgetTree(t.root.get());
        QCOMPARE(t.push->text(), u"Disconnect"_s);
        QCOMPARE(t.push->property("origText").toString(), u"连接"_s);
        t.label->clear();
        t.plain->setPlaceholderText(QString());
        t.root->setWindowTitle(QString());

        LanguageManager::setEnglish(false);
        QCOMPARE(t.push->text(), u"连接"_s);
        QVERIFY(t.label->text().isEmpty());
        QVERIFY(t.plain->placeholderText().isEmpty());
        QVERIFY(t.root->windowTitle().isEmpty());
    }

    void shouldSwitchFromTheSelectorOnlyOnAChange()
    {
        Tree t;
        int walks = 0;
        LanguageManager::addListener(t.root.get(), [&walks] { ++walks; });
        QComboBox* selector = createLanguageSelector(t.root.get());
        QCOMPARE(selector->itemText(0), u"中文"_s);
        QCOMPARE(selector->itemText(1), u"English"_s);
        QCOMPARE(selector->currentIndex(), 0);
        QCOMPARE(selector->width(), 80);
        QCOMPARE(walks, 0);

        selector->setCurrentIndex(1);
        QCOMPARE(walks, 1);
        QCOMPARE(t.push->text(), u"Connect"_s);
        // A selector built in English shows English without switching, and its
        // own items are no keys.
        QComboBox* second = createLanguageSelector(t.root.get());
        QCOMPARE(second->currentIndex(), 1);
        QCOMPARE(walks, 1);
        QCOMPARE(second->itemText(0), u"中文"_s);

        second->setCurrentIndex(0);
        QCOMPARE(walks, 2);
        QVERIFY(!LanguageManager::isEnglish());
        selector->setCurrentIndex(0); // the language already active
        QCOMPARE(walks, 2);
        QCOMPARE(t.push->text(), u"连接"_s);
    }

    void shouldKeepRuntimeTextsCurrentAcrossRoundTrips()
    {
        Tree t;
        auto* status = new QLabel(u"◆未连接"_s, t.root.get());
        LanguageManager::setEnglish(true);
        setRuntimeText(t.push, u"断开"_s); // connected while English is active
        setRuntimeText(status, u"🟢 已连接"_s, u"🟢 Connected"_s);
        setRuntimePlaceholder(t.plain, u"输入十六进制数据..."_s);
        QCOMPARE(t.push->text(), u"Disconnect"_s);
        QCOMPARE(status->text(), u"🟢 Connected"_s);
        QCOMPARE(t.plain->placeholderText(), u"输入十六进制数据..."_s);

        LanguageManager::setEnglish(false); // not the stale texts saved by the first walk
        QCOMPARE(t.push->text(), u"断开"_s);
        QCOMPARE(status->text(), u"🟢 已连接"_s);
        QCOMPARE(t.plain->placeholderText(), u"输入十六进制数据..."_s);

        setRuntimeText(t.push, u"监听"_s); // idle again in server mode, in Chinese
        setRuntimeText(status, u"⚫未连接"_s, u"⚫未连接"_s);
        setRuntimePlaceholder(t.plain, u"输入要发送的数据..."_s);
        LanguageManager::setEnglish(true);
        QCOMPARE(t.push->text(), u"Listen"_s);
        QCOMPARE(status->text(), u"⚫未连接"_s); // no key: the walk leaves it
        QCOMPARE(t.plain->placeholderText(), u"Enter data to send..."_s);
        LanguageManager::setEnglish(false);
        QCOMPARE(t.push->text(), u"监听"_s);
        QCOMPARE(t.plain->placeholderText(), u"输入要发送的数据..."_s);
    }

    void shouldStyleHeaderLabelsAndAccentButtonsFromTheResourceSheet()
    {
        qApp->setStyleSheet(darkTheme());
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* header = new QFrame(&window);
        header->setObjectName(u"headerBar"_s);
        auto* headerLayout = new QHBoxLayout(header);
        auto* title = new QLabel(u"WebSocket调试助手"_s, header);
        title->setObjectName(u"headerTitle"_s);
        headerLayout->addWidget(title);
        headerLayout->addWidget(new QPlainTextEdit(header)); // taller than the bar
        // The window also fixes the height itself; the sheet must agree with it.
        auto* fixedHeader = new QFrame(&window);
        fixedHeader->setObjectName(u"headerBar"_s);
        fixedHeader->setFixedHeight(52);
        auto* plainLabel = new QLabel(u"编码"_s, &window);
        auto* button = new QPushButton(u"连接"_s, &window);
        button->setObjectName(u"accentButton"_s);
        for (QWidget* w : QList<QWidget*>{header, fixedHeader, plainLabel, button})
            layout->addWidget(w);
        window.resize(500, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTRY_COMPARE(header->height(), 52);
        QCOMPARE(fixedHeader->height(), 52);
        QCOMPARE(plainLabel->palette().color(QPalette::WindowText), QColor(0x94, 0xA3, 0xB8));
        QCOMPARE(plainLabel->font().pixelSize(), 12);
        QCOMPARE(title->palette().color(QPalette::WindowText), QColor(0xF1, 0xF5, 0xF9));
        QCOMPARE(title->font().pixelSize(), 18);
        QCOMPARE(button->palette().color(QPalette::ButtonText), QColor(0x0B, 0x0E, 0x14));
        QVERIFY(button->font().bold());
    }

    void shouldDrawArrowsAndMarksThatTellTheState()
    {
        qApp->setStyleSheet(darkTheme());
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* spin = new QSpinBox(&window);
        spin->setValue(5);
        auto* combo = new QComboBox(&window);
        combo->addItem(u"UTF-8"_s);
        QCheckBox* boxes[] = {new QCheckBox(u"开"_s, &window), new QCheckBox(u"关"_s, &window)};
        QRadioButton* radios[] = {new QRadioButton(u"开"_s, &window),
                                  new QRadioButton(u"关"_s, &window)};
        boxes[0]->setChecked(true);
        radios[0]->setChecked(true);
        for (QWidget* w :
             std::initializer_list<QWidget*>{spin, combo, boxes[0], boxes[1], radios[0], radios[1]})
            layout->addWidget(w);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Triangles in the buttons at the right: wide at the base, narrow at the tip.
        const QRgb arrow = qRgb(0x94, 0xA3, 0xB8);
        const int half = spin->height() / 2;
        const QList<int> up = rowWidths(spin, QRect(spin->width() - 20, 0, 20, half), arrow);
        const QList<int> down = rowWidths(spin, QRect(spin->width() - 20, half, 20, half), arrow);
        const QList<int> drop =
            rowWidths(combo, QRect(combo->width() - 24, 0, 24, combo->height()), arrow);
        QVERIFY(up.size() >= 3 && up.first() < up.last());
        QVERIFY(down.size() >= 3 && down.first() > down.last());
        QVERIFY(drop.size() >= 3 && drop.first() > drop.last());

        // Inside the indicator at the left, clear of its border, cyan too when checked.
        const auto mark = [](QWidget* button) {
            return rowWidths(button, QRect(4, button->height() / 2 - 4, 10, 8), qRgb(0, 0xD4, 0xFF))
                .size();
        };
        QVERIFY(mark(boxes[0]) >= 4 && mark(radios[0]) >= 4);
        QCOMPARE(mark(boxes[1]) + mark(radios[1]), 0);
    }

    void shouldSpeakTheInterfaceLanguageInQtsOwnTexts()
    {
        const auto cancel = [] {
            return QCoreApplication::translate("QPlatformTheme", "Cancel");
        };
        {
            QTemporaryDir empty;
            QtTranslations missing(empty.path());
            LanguageManager::setEnglish(true);
            LanguageManager::setEnglish(false);
            QCOMPARE(cancel(), u"Cancel"_s);
        }
        const QString directory = QtTranslations::systemDirectory();
        if (!QFile::exists(directory + u"/qtbase_zh_CN.qm"_s))
            QSKIP("Qt's Chinese catalogue is not installed (qt6-translations-l10n)");

        QtTranslations translations(directory);
        QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        QPushButton* button = buttons.button(QDialogButtonBox::Cancel);
        QCOMPARE(cancel(), u"取消"_s);
        QCOMPARE(button->text(), u"取消"_s);
        LanguageManager::setEnglish(true);
        QCOMPARE(cancel(), u"Cancel"_s);
        QTRY_COMPARE(button->text(), u"Cancel"_s); // an open dialog follows
        LanguageManager::setEnglish(false);
        QTRY_COMPARE(button->text(), u"取消"_s);
    }

    void shouldShipSheetWithBalancedRulesAndCommentsWithoutRules()
    {
        const QString sheet = darkTheme();
        QVERIFY(sheet.size() > 1000);
        static const QRegularExpression comment(u"/\\*.*?\\*/"_s,
                                                QRegularExpression::DotMatchesEverythingOption);
        for (auto it = comment.globalMatch(sheet); it.hasNext();) {
            const QString text = it.next().captured();
            QVERIFY2(!text.contains(QLatin1Char('{')), qPrintable(text));
        }
        QString rules = sheet;
        rules.remove(comment);
        int depth = 0;
        for (const QChar c : std::as_const(rules)) {
            depth += c == QLatin1Char('{') ? 1 : c == QLatin1Char('}') ? -1 : 0;
            QVERIFY(depth == 0 || depth == 1);
        }
        QCOMPARE(depth, 0);
        QCOMPARE(rules.count(u"QScrollArea {"_s), 2);
    }

    void shouldEmbedA64PixelPngIcon()
    {
        QFile file(u":/icon/WebSocket.ico"_s);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        QVERIFY(data.size() > 22 + 8);
        // ICONDIR: reserved 0, type 1, one image; the entry: 64x64, 32 bits per pixel.
        QCOMPARE(data.left(8), QByteArray("\x00\x00\x01\x00\x01\x00\x40\x40", 8));
        QCOMPARE(quint8(data.at(12)), quint8(32));
        const quint32 size = qFromLittleEndian<quint32>(data.constData() + 14);
        const quint32 offset = qFromLittleEndian<quint32>(data.constData() + 18);
        QCOMPARE(qsizetype(offset) + qsizetype(size), data.size());
        QCOMPARE(data.mid(offset, 8), QByteArray("\x89PNG\r\n\x1a\n", 8));

        const QImage image = QImage::fromData(data.mid(offset));
        QCOMPARE(image.size(), QSize(64, 64));
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // rounded corner
        QCOMPARE(qAlpha(image.pixel(32, 32)), 255);
        QCOMPARE(QImage(u":/icon/WebSocket.ico"_s).size(), QSize(64, 64));
    }
};

QTEST_MAIN(TestI18n)
#include "tst_i18n.moc"
