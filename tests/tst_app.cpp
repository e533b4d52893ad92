#include "LoopbackOnly.h"
#include "RunLogText.h"

#include "app/RunLog.h"
#include "app/StartUp.h"
#include "websocket/WebSocketWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/qtestspontaneevent.h>
#include <QtTest>

#include <sys/resource.h>

namespace {

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

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // Starts the built program offscreen with its files in `home` and waits
    // until it has logged its start number `start`.
    void startProgram(QProcess& program, const QTemporaryDir& home, const QString& log, int start)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), home.path());
        for (const char* name :
             {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            env.insert(QLatin1String(name), home.filePath(QLatin1String(name)));
        // Where proxies from the environment are honoured, this keeps the notice
        // feed's request on loopback.
        for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"})
            env.insert(QLatin1String(name), QStringLiteral("http://127.0.0.1:9"));
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStringLiteral(SOCKWISE_BINARY), QStringList());
        QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(readAll(log).count(QStringLiteral(" Window shown\n")) == start ||
                                     program.state() == QProcess::NotRunning,
                                 30000);
        QCOMPARE(program.state(), QProcess::Running);
    }

    static void stopProgram(QProcess& program)
    {
        program.terminate();
        if (!program.waitForFinished(10000)) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

    QString logIn(const QString& subdir)
    {
        return m_dir.filePath(subdir + QStringLiteral("/Sockwise.log"));
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
    }

    void shouldApplyTheEmbeddedSheetElseTheFileBesideTheProgram()
    {
        const QString resource = StartUp::resourceStyleSheetPath();
        QVERIFY2(QFile::exists(resource), "the style sheet is not embedded");
        const QString beside = m_dir.filePath(QStringLiteral("beside.qss"));
        writeFile(beside, "QPushButton {\n    color: #abcdef;\n}\n");
        const QString missing = QStringLiteral(":/styles/Missing.qss");
        const QString earlier = QStringLiteral("QLabel { color: red; }");

        RunLog::openIn(m_dir.filePath(QStringLiteral("qss")), QStringLiteral("Sockwise"));
        qApp->setStyleSheet(earlier);
        QVERIFY(StartUp::applyStyleSheet(resource, beside)); // the file is no override
        QCOMPARE(qApp->styleSheet(), readAll(resource));
        QVERIFY(StartUp::applyStyleSheet(missing, beside));
        QCOMPARE(qApp->styleSheet(), readAll(beside));
        qApp->setStyleSheet(earlier);
        QVERIFY(!StartUp::applyStyleSheet(missing, m_dir.filePath(QStringLiteral("none.qss"))));
        QCOMPARE(qApp->styleSheet(), earlier);
        qApp->setStyleSheet(QString());
        QCOMPARE(normalised(readAll(logIn(QStringLiteral("qss")))),
                 QStringLiteral(
                     "\n=== D Sockwise ===\nT DarkTheme QSS loaded\nT DarkTheme QSS loaded\n"));
    }

    void shouldLogTwoStartsOfTheRealProgram()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        // Named after the executable: the program's name is set later.
        const QString log =
            home.filePath(QStringLiteral("XDG_DATA_HOME/sockwise/logs/Sockwise.log"));

        for (int start = 1; start <= 2; ++start) {
            QProcess program;
            startProgram(program, home, log, start);
            if (QTest::currentTestFailed())
                return;
            stopProgram(program);
        }
        const QString block =
            QStringLiteral("\n=== D Sockwise ===\nT DarkTheme QSS loaded\nT Window shown\n");
        QCOMPARE(normalised(readAll(log)), block + block);
    }

    void shouldPassTheWheelToTheSettingsColumnUnlessFocused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("focused");
        QTest::newRow("combo") << QStringLiteral("encodingCombo") << false;
        QTest::newRow("spin box") << QStringLiteral("lineSpacingSpin") << false;
        QTest::newRow("combo added later") << QStringLiteral("laterCombo") << false;
        QTest::newRow("focused combo") << QStringLiteral("encodingCombo") << true;
        QTest::newRow("focused spin box") << QStringLiteral("lineSpacingSpin") << true;
    }

    void shouldPassTheWheelToTheSettingsColumnUnlessFocused()
    {
        QFETCH(QString, name);
        QFETCH(bool, focused);
        keepNetworkOnLoopback();
        WebSocketWidget window;
        auto* later = new QComboBox(window.findChild<QWidget*>(QStringLiteral("settingsPanel")));
        later->setObjectName(QStringLiteral("laterCombo"));
        later->addItems({QStringLiteral("a"), QStringLiteral("b")});
        window.resize(900, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QScrollBar* bar =
            window.findChild<QScrollArea*>(QStringLiteral("settingsScroll"))->verticalScrollBar();
        auto* box = window.findChild<QWidget*>(name);
        QVERIFY(box && bar->maximum() > 0);

        QWidget* focus = focused ? box : window.findChild<QWidget*>(QStringLiteral("sendEdit"));
        focus->setFocus();
        QTRY_VERIFY(focus->hasFocus());
        const auto value = [box] {
            auto* combo = qobject_cast<QComboBox*>(box);
            return combo ? combo->currentIndex() : qobject_cast<QSpinBox*>(box)->value();
        };
        const int before = value();
        turnWheelDown(box);

        QCOMPARE(value() != before, focused);
        QCOMPARE(bar->value() > 0, !focused);
        // A real wheel would otherwise hand it the focus first.
        QCOMPARE(box->focusPolicy(), Qt::StrongFocus);
    }

    void shouldRaiseTheSoftDescriptorLimitToTheHardOne()
    {
        rlimit limit{};
        QVERIFY(getrlimit(RLIMIT_NOFILE, &limit) == 0);
        if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= 128)
            QSKIP("the hard descriptor limit is too low to lower the soft one below it");
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcess program;
        program.setChildProcessModifier([] {
            rlimit low{};
            getrlimit(RLIMIT_NOFILE, &low);
            low.rlim_cur = 128;
            setrlimit(RLIMIT_NOFILE, &low);
        });
        startProgram(program, home,
                     home.filePath(QStringLiteral("XDG_DATA_HOME/sockwise/logs/Sockwise.log")), 1);
        if (QTest::currentTestFailed())
            return;

        // "Max open files            <soft>               <hard>               files"
        const QStringList fields =
            readAll(QStringLiteral("/proc/%1/limits").arg(program.processId()))
                .section(QStringLiteral("Max open files"), 1)
                .section(QLatin1Char('\n'), 0, 0)
                .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        stopProgram(program);
        QCOMPARE(fields.size(), 3);
        const QString hard = fields.at(1);
        const QString expected = hard == QStringLiteral("unlimited")
                                     ? readAll(QStringLiteral("/proc/sys/fs/nr_open")).trimmed()
                                     : hard;
        QCOMPARE(fields.at(0), expected);
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
