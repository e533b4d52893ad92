#include "i18n/LanguageManager.h"

#include <QObject>
#include <QStringList>
#include <QtTest>

using namespace Qt::StringLiterals;

// The language switch and its dictionary, without widgets to translate.
class LanguageTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { LanguageManager::setEnglish(false); }

    void shouldTranslateOnlyExactKeysInEnglish_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("plain key") << u"连接"_s << u"Connect"_s;
        QTest::newRow("leading space") << u" 连接"_s << u" 连接"_s;
        QTest::newRow("trailing space") << u"连接 "_s << u"连接 "_s;
        QTest::newRow("no substring replacement") << u"连接设置 "_s << u"连接设置 "_s;
        QTest::newRow("inner spaces kept in value") << u"发  送"_s << u"  Send  "_s;
        QTest::newRow("without inner spaces") << u"发送"_s << u"Send"_s;
        QTest::newRow("status without space") << u"⚫未连接"_s << u"⚫未连接"_s;
        QTest::newRow("status with space") << u"⚫ 未连接"_s << u"○ Disconnected"_s;
        QTest::newRow("emoji key") << u"🟢 已连接"_s << u"● Connected"_s;
        QTest::newRow("value with leading space") << u"秒"_s << u" sec"_s;
        QTest::newRow("suffix form not a key") << u" 秒"_s << u" 秒"_s;
        QTest::newRow("backslash kept")
            << u"例: temperature 或 data\\.value"_s << u"e.g. temperature or data\\.value"_s;
        QTest::newRow("without backslash")
            << u"例: temperature 或 data.value"_s << u"例: temperature 或 data.value"_s;
        QTest::newRow("dash glyph")
            << u"未发现可用数值 — 请检查数据"_s << u"No values found — check data"_s;
        QTest::newRow("colon") << u"间隔:"_s << u"Interval:"_s;
        QTest::newRow("full-width colon is another text") << u"间隔："_s << u"间隔："_s;
        QTest::newRow("parentheses") << u"表达式 (正则/JSON路径)"_s << u"Expression (Regex/JSON)"_s;
    }

    void shouldTranslateOnlyExactKeysInEnglish()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(LanguageManager::translate(text), text);
        LanguageManager::setEnglish(true);
        QCOMPARE(LanguageManager::translate(text), expected);
    }

    void shouldCallListenersInOrderAndSkipDestroyedContexts()
    {
        QStringList order;
        QObject first;
        auto* doomed = new QObject;
        QObject last;
        bool englishSeen = false;
        LanguageManager::addListener(&first, [&order, &englishSeen] {
            order << u"first"_s;
            englishSeen = LanguageManager::isEnglish(); // stored before listeners run
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
        LanguageManager::setEnglish(false);
        QCOMPARE(order.size(), 2);
    }

    void shouldForgetTheListenersOfDestroyedContexts()
    {
        // Every options dialog opened added one for good.
        QObject keeper;
        int calls = 0;
        LanguageManager::addListener(&keeper, [&calls] { ++calls; });
        const int before = LanguageManager::listenerCount();
        for (int i = 0; i < 20; ++i) {
            QObject dialog;
            LanguageManager::addListener(&dialog, [] {});
        }
        QCOMPARE(LanguageManager::listenerCount(), before + 1);
        LanguageManager::setEnglish(true);
        LanguageManager::setEnglish(false);
        QCOMPARE(calls, 2);
    }
};

QTEST_GUILESS_MAIN(LanguageTest)
#include "tst_language.moc"
