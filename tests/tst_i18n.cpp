#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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
#include <QStandardPaths>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A small window with one widget of every walked kind.
struct Tree
{
    std::unique_ptr<QWidget> root;
    QLabel* label = nullptr;
    QLabel* unknownLabel = nullptr;
    QLabel* emptyLabel = nullptr;
    QLabel* diamond = nullptr;
    QLabel* spaces = nullptr;
    QLabel* dot = nullptr;
    QLabel* ring = nullptr;
    QLabel* dotPrefixed = nullptr;
    QPushButton* push = nullptr;
    QCheckBox* check = nullptr;
    QRadioButton* radio = nullptr;
    QGroupBox* group = nullptr;
    QLabel* nestedLabel = nullptr;
    QTabWidget* tabs = nullptr;
    QLineEdit* line = nullptr;
    QPlainTextEdit* plain = nullptr;
    QComboBox* shortCombo = nullptr;
    QComboBox* longCombo = nullptr;
};

Tree buildTree()
{
    Tree t;
    t.root = std::make_unique<QWidget>();
    QWidget* root = t.root.get();
    root->setWindowTitle(u"WebSocket调试助手"_s);
    t.label = new QLabel(u"编码"_s, root);
    t.unknownLabel = new QLabel(u"  未知 文本 "_s, root);
    t.emptyLabel = new QLabel(root);
    t.diamond = new QLabel(u"◆"_s, root);
    t.spaces = new QLabel(u"  "_s, root);
    t.dot = new QLabel(u"●"_s, root);
    t.ring = new QLabel(u"○"_s, root);
    t.dotPrefixed = new QLabel(u"●连接"_s, root);
    t.push = new QPushButton(u"连接"_s, root);
    t.check = new QCheckBox(u"十六进制显示"_s, root);
    t.radio = new QRadioButton(u"WebSocket 客户端"_s, root);
    t.group = new QGroupBox(u"连接设置"_s, root);
    t.nestedLabel = new QLabel(u"服务器地址"_s, t.group);
    t.tabs = new QTabWidget(root);
    t.tabs->addTab(new QWidget, u"通信日志"_s);
    t.tabs->addTab(new QWidget, QString());
    t.tabs->addTab(new QWidget, u"数据图表"_s);
    t.line = new QLineEdit(root);
    t.line->setPlaceholderText(u"例: temperature 或 data\\.value"_s);
    t.plain = new QPlainTextEdit(root);
    t.plain->setPlaceholderText(u"输入要发送的数据..."_s);
    t.shortCombo = new QComboBox(t.group);
    t.longCombo = new QComboBox(root);
    for (int i = 0; i < 18; ++i)
        t.shortCombo->addItem(u"项目%1"_s.arg(i));
    t.shortCombo->addItem(u"折线图"_s);
    for (int i = 0; i < 19; ++i)
        t.longCombo->addItem(u"项目%1"_s.arg(i));
    t.longCombo->addItem(u"折线图"_s);
    return t;
}

} // namespace

class TestI18n : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void shouldTranslateOnlyExactKeysInEnglish_data();
    void shouldTranslateOnlyExactKeysInEnglish();
    void shouldReturnTextsUnchangedInChinese();
    void shouldHoldTheToolsSixtyThreeKeys();

    void shouldTranslateEveryWalkedKindAndRestoreItExactly();
    void shouldLeaveGlyphLabelsEmptyTextsAndLongCombosAlone();
    void shouldKeepFirstSavedTextWhenProgramChangesTextBetweenWalks();
    void shouldSkipEmptyTextEvenWhenATextWasSaved();
    void shouldHandleWidgetReachedByTwoListenersOncePerWalk();

    void shouldBuildSelectorWithoutSwitchingLanguage();
    void shouldSwitchLanguageFromSelectorAndIgnoreSameChoice();
    void shouldCallListenersInOrderAndSkipDestroyedContexts();

    void shouldKeepRuntimeButtonTextAcrossRoundTrips();
    void shouldKeepRuntimeStatusAndPlaceholderAcrossRoundTrips();

    void shouldStyleLabelsAndHeaderFromResourceSheet();
    void shouldShowAccentLookAgainAfterOwnSheetIsCleared();
    void shouldShipSheetWithBalancedRulesAndCommentsWithoutRules();
    void shouldEmbedA64PixelPngIcon();
};

void TestI18n::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(!LanguageManager::isEnglish());
}

void TestI18n::cleanup()
{
    LanguageManager::setEnglish(false);
    qApp->setStyleSheet(QString());
}

void TestI18n::shouldTranslateOnlyExactKeysInEnglish_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain key") << u"连接"_s << u"Connect"_s;
    QTest::newRow("leading space") << u" 连接"_s << u" 连接"_s;
    QTest::newRow("trailing space") << u"连接 "_s << u"连接 "_s;
    QTest::newRow("inner spaces kept in value") << u"发  送"_s << u"  Send  "_s;
    QTest::newRow("without inner spaces") << u"发送"_s << u"Send"_s;
    QTest::newRow("status without space") << u"⚫未连接"_s << u"⚫未连接"_s;
    QTest::newRow("status with space") << u"⚫ 未连接"_s << u"○ Disconnected"_s;
    QTest::newRow("emoji key") << u"🟢 已连接"_s << u"● Connected"_s;
    QTest::newRow("already English") << u"Connect"_s << u"Connect"_s;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("later duplicate wins") << u"数据可视化"_s << u"Data Visualization"_s;
    QTest::newRow("value with leading space") << u"秒"_s << u" sec"_s;
    QTest::newRow("suffix form not a key") << u" 秒"_s << u" 秒"_s;
    QTest::newRow("backslash kept")
        << u"例: temperature 或 data\\.value"_s << u"e.g. temperature or data\\.value"_s;
    QTest::newRow("without backslash")
        << u"例: temperature 或 data.value"_s << u"例: temperature 或 data.value"_s;
    QTest::newRow("dash glyph") << u"未发现可用数值 — 请检查数据"_s
                                << u"No values found — check data"_s;
    QTest::newRow("maps to itself")
        << u"WebSocket Client/Server · Text/Binary"_s << u"WebSocket Client/Server · Text/Binary"_s;
    QTest::newRow("colon") << u"间隔:"_s << u"Interval:"_s;
    QTest::newRow("full-width colon is another text") << u"间隔："_s << u"间隔："_s;
    QTest::newRow("parentheses") << u"表达式 (正则/JSON路径)"_s << u"Expression (Regex/JSON)"_s;
    QTest::newRow("no substring replacement") << u"连接设置 "_s << u"连接设置 "_s;
    QTest::newRow("title") << u"WebSocket调试助手"_s << u"WebSocket Debug Tool"_s;
}

void TestI18n::shouldTranslateOnlyExactKeysInEnglish()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    LanguageManager::setEnglish(true);
    QCOMPARE(LanguageManager::translate(text), expected);
}

void TestI18n::shouldReturnTextsUnchangedInChinese()
{
    QVERIFY(!LanguageManager::isEnglish());
    QCOMPARE(LanguageManager::translate(u"连接"_s), u"连接"_s);
    QCOMPARE(LanguageManager::translate(u"发  送"_s), u"发  送"_s);
    LanguageManager::setEnglish(true);
    QVERIFY(LanguageManager::isEnglish());
    LanguageManager::setEnglish(false);
    QCOMPARE(LanguageManager::translate(u"⚫ 未连接"_s), u"⚫ 未连接"_s);
}

void TestI18n::shouldHoldTheToolsSixtyThreeKeys()
{
    QCOMPARE(LanguageManager::dictionarySize(), 63);
    QCOMPARE(&LanguageManager::instance(), &LanguageManager::instance());
}

void TestI18n::shouldTranslateEveryWalkedKindAndRestoreItExactly()
{
    Tree t = buildTree();
    retranslateWidgetTree(t.root.get()); // Chinese, nothing saved: no change
    QCOMPARE(t.label->text(), u"编码"_s);
    QVERIFY(!t.label->property("origText").isValid());

    LanguageManager::setEnglish(true);
    retranslateWidgetTree(t.root.get());
    QCOMPARE(t.root->windowTitle(), u"WebSocket Debug Tool"_s);
    QCOMPARE(t.label->text(), u"Encoding"_s);
    QCOMPARE(t.label->property("origText").toString(), u"编码"_s);
    QCOMPARE(t.unknownLabel->text(), u"  未知 文本 "_s);
    QCOMPARE(t.unknownLabel->property("origText").toString(), u"  未知 文本 "_s);
    QCOMPARE(t.dotPrefixed->property("origText").toString(), u"●连接"_s);
    QCOMPARE(t.push->text(), u"Connect"_s);
    QCOMPARE(t.check->text(), u"Hex Display"_s);
    QCOMPARE(t.radio->text(), u"WebSocket Client"_s);
    QCOMPARE(t.group->title(), u"Connection"_s);
    QCOMPARE(t.nestedLabel->text(), u"Server URL"_s);
    QCOMPARE(t.tabs->tabText(0), u"Log"_s);
    QCOMPARE(t.tabs->tabText(2), u"Chart"_s);
    QCOMPARE(t.tabs->property("tab2").toString(), u"数据图表"_s);
    QVERIFY(!t.tabs->property("tab1").isValid());
    QCOMPARE(t.line->placeholderText(), u"e.g. temperature or data\\.value"_s);
    QCOMPARE(t.plain->placeholderText(), u"Enter data to send..."_s);
    QCOMPARE(t.plain->property("origPH").toString(), u"输入要发送的数据..."_s);
    QCOMPARE(t.shortCombo->itemText(18), u"Line Chart"_s);
    QCOMPARE(t.shortCombo->property("origItem18").toString(), u"折线图"_s);
    QCOMPARE(t.shortCombo->property("origItem0").toString(), u"项目0"_s);
    QCOMPARE(t.root->property("origTitle").toString(), u"WebSocket调试助手"_s);

    LanguageManager::setEnglish(false);
    retranslateWidgetTree(t.root.get());
    const Tree fresh = buildTree();
    QCOMPARE(t.root->windowTitle(), fresh.root->windowTitle());
    QCOMPARE(t.label->text(), fresh.label->text());
    QCOMPARE(t.unknownLabel->text(), fresh.unknownLabel->text());
    QCOMPARE(t.dotPrefixed->text(), fresh.dotPrefixed->text());
    QCOMPARE(t.push->text(), fresh.push->text());
    QCOMPARE(t.check->text(), fresh.check->text());
    QCOMPARE(t.radio->text(), fresh.radio->text());
    QCOMPARE(t.group->title(), fresh.group->title());
    QCOMPARE(t.nestedLabel->text(), fresh.nestedLabel->text());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(t.tabs->tabText(i), fresh.tabs->tabText(i));
    QCOMPARE(t.line->placeholderText(), fresh.line->placeholderText());
    QCOMPARE(t.plain->placeholderText(), fresh.plain->placeholderText());
    for (int i = 0; i < t.shortCombo->count(); ++i)
        QCOMPARE(t.shortCombo->itemText(i), fresh.shortCombo->itemText(i));
    // The saved texts stay for the next switch.
    QCOMPARE(t.label->property("origText").toString(), u"编码"_s);

    // A second round trip behaves like the first.
    LanguageManager::setEnglish(true);
    retranslateWidgetTree(t.root.get());
    QCOMPARE(t.group->title(), u"Connection"_s);
    LanguageManager::setEnglish(false);
    retranslateWidgetTree(t.root.get());
    QCOMPARE(t.group->title(), u"连接设置"_s);
}

void TestI18n::shouldLeaveGlyphLabelsEmptyTextsAndLongCombosAlone()
{
    Tree t = buildTree();
    t.root->setWindowTitle(QString());
    LanguageManager::setEnglish(true);
    retranslateWidgetTree(t.root.get());

    const QList<QLabel*> glyphs{t.diamond, t.spaces, t.dot, t.ring, t.emptyLabel};
    for (QLabel* label : glyphs)
        QVERIFY2(!label->property("origText").isValid(), qPrintable(label->text()));
    QVERIFY(!t.root->property("origTitle").isValid());
    QVERIFY(t.root->windowTitle().isEmpty());
    QCOMPARE(t.longCombo->itemText(19), u"折线图"_s);
    QVERIFY(!t.longCombo->property("origItem0").isValid());
    QVERIFY(!t.longCombo->property("origItem19").isValid());

    LanguageManager::setEnglish(false);
    retranslateWidgetTree(t.root.get());
    QCOMPARE(t.diamond->text(), u"◆"_s);
    QCOMPARE(t.spaces->text(), u"  "_s);
    QCOMPARE(t.dot->text(), u"●"_s);
    QCOMPARE(t.ring->text(), u"○"_s);
    QVERIFY(t.emptyLabel->text().isEmpty());
    QVERIFY(!t.dot->property("origText").isValid());
}

void TestI18n::shouldKeepFirstSavedTextWhenProgramChangesTextBetweenWalks()
{
    Tree t = buildTree();
    LanguageManager::setEnglish(true);
    retranslateWidgetTree(t.root.get());
    t.push->setText(u"断开"_s); // set in Chinese, as plain code does
    retranslateWidgetTree(t.root.get());
    QCOMPARE(t.push->text(), u"Disconnect"_s);                    // the current text is translated
    QCOMPARE(t.push->property("origText").toString(), u"连接"_s); // the saved one stays

    LanguageManager::setEnglish(false);
    retranslateWidgetTree(t.root.get());
    QCOMPARE(t.push->text(), u"连接"_s);
}

void TestI18n::shouldSkipEmptyTextEvenWhenATextWasSaved()
{
    Tree t = buildTree();
    LanguageManager::setEnglish(true);
    retranslateWidgetTree(t.root.get());
    t.label->clear();
    t.plain->setPlaceholderText(QString());
    t.root->setWindowTitle(QString());

    LanguageManager::setEnglish(false);
    retranslateWidgetTree(t.root.get());
    QVERIFY(t.label->text().isEmpty());
    QVERIFY(t.plain->placeholderText().isEmpty());
    QVERIFY(t.root->windowTitle().isEmpty());
    QCOMPARE(t.label->property("origText").toString(), u"编码"_s);
}

void TestI18n::shouldHandleWidgetReachedByTwoListenersOncePerWalk()
{
    Tree t = buildTree();
    QGroupBox* group = t.group;
    QWidget* root = t.root.get();
    LanguageManager::addListener(group, [group] { retranslateWidgetTree(group); });
    LanguageManager::addListener(root, [root] { retranslateWidgetTree(root); });

    LanguageManager::setEnglish(true);
    QCOMPARE(t.nestedLabel->text(), u"Server URL"_s);
    QCOMPARE(t.nestedLabel->property("origText").toString(), u"服务器地址"_s);
    QCOMPARE(t.shortCombo->property("origItem18").toString(), u"折线图"_s);
    QCOMPARE(t.label->text(), u"Encoding"_s);

    LanguageManager::setEnglish(false);
    QCOMPARE(t.nestedLabel->text(), u"服务器地址"_s);
    QCOMPARE(t.shortCombo->itemText(18), u"折线图"_s);
    QCOMPARE(t.group->title(), u"连接设置"_s);
}

void TestI18n::shouldBuildSelectorWithoutSwitchingLanguage()
{
    QWidget header;
    int calls = 0;
    LanguageManager::addListener(&header, [&calls] { ++calls; });

    QComboBox* selector = createLanguageSelector(&header);
    QCOMPARE(selector->parent(), &header);
    QCOMPARE(selector->count(), 2);
    QCOMPARE(selector->itemText(0), u"中文"_s);
    QCOMPARE(selector->itemText(1), u"English"_s);
    QCOMPARE(selector->itemData(0).toInt(), 0);
    QCOMPARE(selector->itemData(1).toInt(), 1);
    QCOMPARE(selector->currentIndex(), 0);
    QCOMPARE(selector->width(), 80);
    QCOMPARE(selector->minimumWidth(), 80);
    QCOMPARE(selector->maximumWidth(), 80);
    QVERIFY(selector->styleSheet().contains(u"selection-background-color: #1E3A5F;"_s));

    LanguageManager::setEnglish(true);
    QCOMPARE(calls, 1);
    QComboBox* second = createLanguageSelector(&header);
    QCOMPARE(second->currentIndex(), 1);
    QVERIFY(LanguageManager::isEnglish());
    QCOMPARE(calls, 1);

    // Its own items are no keys: a walk leaves them as they are.
    retranslateWidgetTree(&header);
    QCOMPARE(second->itemText(0), u"中文"_s);
    QCOMPARE(second->itemText(1), u"English"_s);
}

void TestI18n::shouldSwitchLanguageFromSelectorAndIgnoreSameChoice()
{
    Tree t = buildTree();
    QWidget* root = t.root.get();
    QComboBox* selector = createLanguageSelector(root);
    int walks = 0;
    LanguageManager::addListener(root, [root, &walks] {
        ++walks;
        retranslateWidgetTree(root);
    });

    selector->setCurrentIndex(1);
    QCOMPARE(walks, 1);
    QVERIFY(LanguageManager::isEnglish());
    QCOMPARE(t.push->text(), u"Connect"_s);

    // A second selector switches back; the first, still showing English, then
    // chooses the language already active: no walk.
    QComboBox* second = createLanguageSelector(root);
    QCOMPARE(second->currentIndex(), 1);
    second->setCurrentIndex(0);
    QCOMPARE(walks, 2);
    QVERIFY(!LanguageManager::isEnglish());
    selector->setCurrentIndex(0);
    QCOMPARE(walks, 2);
    LanguageManager::setEnglish(false);
    QCOMPARE(walks, 2);
    QCOMPARE(t.push->text(), u"连接"_s);
}

void TestI18n::shouldCallListenersInOrderAndSkipDestroyedContexts()
{
    QStringList order;
    QObject first;
    auto* doomed = new QObject;
    QObject last;
    bool englishSeen = false;
    LanguageManager::addListener(&first, [&order, &englishSeen] {
        order << u"first"_s;
        englishSeen = LanguageManager::isEnglish(); // the flag is stored before listeners run
    });
    LanguageManager::addListener(doomed, [&order] { order << u"doomed"_s; });
    LanguageManager::addListener(&last, [&order] { order << u"last"_s; });

    LanguageManager::setEnglish(true);
    QCOMPARE(order, (QStringList{u"first"_s, u"doomed"_s, u"last"_s}));
    QVERIFY(englishSeen);

    delete doomed;
    order.clear();
    LanguageManager::setEnglish(false);
    QCOMPARE(order, (QStringList{u"first"_s, u"last"_s}));
    QVERIFY(!englishSeen);

    order.clear();
    LanguageManager::setEnglish(false);
    QVERIFY(order.isEmpty());
}

void TestI18n::shouldKeepRuntimeButtonTextAcrossRoundTrips()
{
    Tree t = buildTree();
    QWidget* root = t.root.get();
    LanguageManager::addListener(root, [root] { retranslateWidgetTree(root); });

    LanguageManager::setEnglish(true);
    QCOMPARE(t.push->text(), u"Connect"_s);
    setRuntimeText(t.push, u"断开"_s); // connected while English is active
    QCOMPARE(t.push->text(), u"Disconnect"_s);

    LanguageManager::setEnglish(false);
    QCOMPARE(t.push->text(), u"断开"_s); // not the stale "连接"

    setRuntimeText(t.push, u"监听"_s); // idle again in server mode, in Chinese
    QCOMPARE(t.push->text(), u"监听"_s);
    LanguageManager::setEnglish(true);
    QCOMPARE(t.push->text(), u"Listen"_s);
    LanguageManager::setEnglish(false);
    QCOMPARE(t.push->text(), u"监听"_s);

    // A text that is no key shows as given in both languages.
    setRuntimeText(t.push, u"重新连接"_s);
    LanguageManager::setEnglish(true);
    QCOMPARE(t.push->text(), u"重新连接"_s);
    LanguageManager::setEnglish(false);
    QCOMPARE(t.push->text(), u"重新连接"_s);
}

void TestI18n::shouldKeepRuntimeStatusAndPlaceholderAcrossRoundTrips()
{
    Tree t = buildTree();
    QWidget* root = t.root.get();
    auto* status = new QLabel(u"◆未连接"_s, root);
    status->setObjectName(u"connStatus"_s);
    LanguageManager::addListener(root, [root] { retranslateWidgetTree(root); });

    LanguageManager::setEnglish(true);
    setRuntimeText(status, u"🟢 已连接"_s, u"🟢 Connected"_s);
    setRuntimePlaceholder(t.plain, u"输入十六进制数据..."_s);
    QCOMPARE(status->text(), u"🟢 Connected"_s);
    QCOMPARE(t.plain->placeholderText(), u"输入十六进制数据..."_s);

    LanguageManager::setEnglish(false);
    QCOMPARE(status->text(), u"🟢 已连接"_s);
    QCOMPARE(t.plain->placeholderText(), u"输入十六进制数据..."_s);

    setRuntimeText(status, u"⚫未连接"_s, u"⚫未连接"_s);
    setRuntimePlaceholder(t.plain, u"输入要发送的数据..."_s);
    LanguageManager::setEnglish(true);
    QCOMPARE(status->text(), u"⚫未连接"_s); // no key: the walk leaves it
    QCOMPARE(t.plain->placeholderText(), u"Enter data to send..."_s);
    setRuntimeText(status, u"⚫未连接"_s, u"○ Disconnected"_s);
    LanguageManager::setEnglish(false);
    QCOMPARE(status->text(), u"⚫未连接"_s);
    QCOMPARE(t.plain->placeholderText(), u"输入要发送的数据..."_s);
}

void TestI18n::shouldStyleLabelsAndHeaderFromResourceSheet()
{
    QFile file(u":/styles/DarkTheme.qss"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString sheet = QString::fromUtf8(file.readAll());
    QVERIFY(sheet.size() > 1000);
    qApp->setStyleSheet(sheet);

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* header = new QFrame(&window);
    header->setObjectName(u"headerBar"_s);
    auto* headerLayout = new QHBoxLayout(header);
    auto* title = new QLabel(u"WebSocket调试助手"_s, header);
    title->setObjectName(u"headerTitle"_s);
    auto* tall = new QPlainTextEdit(header);
    tall->setMinimumHeight(10);
    headerLayout->addWidget(title);
    headerLayout->addWidget(tall);
    // The window also fixes the height itself; the sheet must agree with it.
    auto* fixedHeader = new QFrame(&window);
    fixedHeader->setObjectName(u"headerBar"_s);
    fixedHeader->setFixedHeight(52);
    auto* plainLabel = new QLabel(u"编码"_s, &window);
    auto* body = new QPlainTextEdit(&window);
    layout->addWidget(header);
    layout->addWidget(fixedHeader);
    layout->addWidget(plainLabel);
    layout->addWidget(body, 1);
    window.resize(500, 600);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTRY_COMPARE(header->height(), 52);
    QCOMPARE(fixedHeader->height(), 52);
    QCOMPARE(plainLabel->palette().color(QPalette::WindowText), QColor(0x94, 0xA3, 0xB8));
    QCOMPARE(plainLabel->font().pixelSize(), 12);
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(0xF1, 0xF5, 0xF9));
    QCOMPARE(title->font().pixelSize(), 18);
    QCOMPARE(body->palette().color(QPalette::Base), QColor(0x0F, 0x17, 0x2A));
}

void TestI18n::shouldShowAccentLookAgainAfterOwnSheetIsCleared()
{
    QFile file(u":/styles/DarkTheme.qss"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));

    QWidget window;
    auto* button = new QPushButton(u"连接"_s, &window);
    button->setObjectName(u"accentButton"_s);
    button->ensurePolished();
    const QColor dark(0x0B, 0x0E, 0x14);
    QCOMPARE(button->palette().color(QPalette::ButtonText), dark);
    QCOMPARE(button->font().pixelSize(), 13);
    QVERIFY(button->font().bold());

    button->setStyleSheet(u"color: #EF4444;"_s);
    button->ensurePolished();
    QCOMPARE(button->palette().color(QPalette::ButtonText), QColor(0xEF, 0x44, 0x44));
    button->setStyleSheet(QString());
    button->ensurePolished();
    QCOMPARE(button->palette().color(QPalette::ButtonText), dark);
}

void TestI18n::shouldShipSheetWithBalancedRulesAndCommentsWithoutRules()
{
    QFile file(u":/styles/DarkTheme.qss"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString sheet = QString::fromUtf8(file.readAll());

    static const QRegularExpression comment(u"/\\*.*?\\*/"_s,
                                            QRegularExpression::DotMatchesEverythingOption);
    auto it = comment.globalMatch(sheet);
    while (it.hasNext()) {
        const QString text = it.next().captured();
        QVERIFY2(!text.contains(QLatin1Char('{')), qPrintable(text));
    }
    QString rules = sheet;
    rules.remove(comment);
    int depth = 0;
    for (const QChar c : std::as_const(rules)) {
        if (c == QLatin1Char('{'))
            ++depth;
        else if (c == QLatin1Char('}'))
            --depth;
        QVERIFY(depth == 0 || depth == 1);
    }
    QCOMPARE(depth, 0);
    QCOMPARE(rules.count(u"QScrollArea {"_s), 2);
}

void TestI18n::shouldEmbedA64PixelPngIcon()
{
    QFile file(u":/icon/WebSocket.ico"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QVERIFY(data.size() > 22 + 8);
    // ICONDIR: reserved 0, type 1, one image; the entry: 64x64, 32 bits per pixel.
    QCOMPARE(data.left(6), QByteArray("\x00\x00\x01\x00\x01\x00", 6));
    QCOMPARE(quint8(data.at(6)), quint8(64));
    QCOMPARE(quint8(data.at(7)), quint8(64));
    QCOMPARE(quint8(data.at(12)), quint8(32));
    const quint32 size = qFromLittleEndian<quint32>(data.constData() + 14);
    const quint32 offset = qFromLittleEndian<quint32>(data.constData() + 18);
    QCOMPARE(qsizetype(offset) + qsizetype(size), data.size());
    QCOMPARE(data.mid(offset, 8), QByteArray("\x89PNG\r\n\x1a\n", 8));

    const QImage image = QImage::fromData(data.mid(offset));
    QCOMPARE(image.size(), QSize(64, 64));
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // rounded corner
    QCOMPARE(qAlpha(image.pixel(32, 32)), 255);

    const QImage viaResource(u":/icon/WebSocket.ico"_s);
    QCOMPARE(viaResource.size(), QSize(64, 64));
}

QTEST_MAIN(TestI18n)
#include "tst_i18n.moc"
