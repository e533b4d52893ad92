// Received frames through the real window into the log and the chart panel.
// Input: one control byte, then the frame. The control byte picks the
// encoding the window decodes with (low three bits) and, when bit 6 is set,
// the chart type (bits 3-5), so every kind of plot sees hostile values.
#include "LoopbackOnly.h"

#include "chart/ChartEngine.h"
#include "chart/ChartSeriesData.h"
#include "comm/CommunicationBase.h"
#include "websocket/WebSocketWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QStandardPaths>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QApplication* application = nullptr;
WebSocketWidget* window = nullptr;
CommunicationBase* comm = nullptr;
ChartEngine* chart = nullptr;
QStringList encodings;

// Beyond these the harness starts afresh, so that each input costs about the
// same and memory stays bounded however long the run.
constexpr qsizetype maxPointsKept = 2000;
constexpr qsizetype maxEntriesKept = 2000;

void fail(const char* what)
{
    std::fprintf(stderr, "chart harness: %s\n", what);
    std::abort();
}

void addRule(const QString& name, const QString& expression)
{
    chart->ruleNameEdit()->setText(name);
    chart->expressionEdit()->setText(expression);
    chart->addButton()->click();
}

void setUpWindow()
{
    window = new WebSocketWidget;
    comm = window->findChild<CommunicationBase*>();
    chart = window->findChild<ChartEngine*>();
    if (!comm || !chart)
        fail("the window has no log or chart panel");

    chart->enableCheckBox()->setChecked(true);
    // The "JSON 多字段" template, then rules as a user would type them. The
    // panel gives a typed expression a JSON path or a capturing pattern.
    chart->templateCombo()->setCurrentIndex(2);
    addRule(QStringLiteral("temperature"), QStringLiteral("temperature"));
    addRule(QStringLiteral("nested"), QStringLiteral("data.values.0"));
    addRule(QStringLiteral("number"), QStringLiteral("\\d+\\.?\\d*"));
    addRule(QStringLiteral("voltage"), QStringLiteral("V=(-?[\\d.]+(?:e[+-]?\\d+)?)"));
    addRule(QStringLiteral("group2"), QStringLiteral("(x)?y=([\\d.]+)"));
    if (chart->rules().size() != 7)
        fail("rules were not added through the panel");
}

qsizetype pointsKept()
{
    qsizetype points = 0;
    for (const ChartSeriesData* series : chart->seriesStore())
        points += series->points.size();
    return points;
}

} // namespace

// Fontconfig keeps its configuration and font caches for the life of the
// process and never frees them; that is no leak of ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    // Qt takes the options it knows out of the vector; libFuzzer's stay whole.
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    application = new QApplication(qtArgc, qtArgv);
    // The header's banner asks the vendor service at once; keep it local.
    keepNetworkOnLoopback();
    encodings = CommunicationBase::supportedEncodings();
    setUpWindow();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uchar control = data[0];
    const QByteArray frame(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    comm->setEncoding(encodings.value(control & 0x7, QStringLiteral("UTF-8")));
    if (control & 0x40) {
        const int type = (control >> 3) & 0x7;
        chart->chartTypeCombo()->setCurrentIndex(type <= ChartEngine::Pie ? type
                                                                          : ChartEngine::Line);
    }

    const qint64 before = comm->rxBytes();
    QMetaObject::invokeMethod(window, "onBinaryMessageReceived", Qt::DirectConnection,
                              Q_ARG(QByteArray, frame));
    QMetaObject::invokeMethod(window, "onTextMessageReceived", Qt::DirectConnection,
                              Q_ARG(QString, QString::fromUtf8(frame)));
    QCoreApplication::processEvents();
    // Outside exec() nothing runs deferred deletions; the chart's rebuilds
    // rely on them, and without this each clear would seem to leak.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // The binary frame is counted as it came; the text one as encoded.
    if (comm->rxBytes() - before < frame.size())
        fail("received bytes went uncounted");
    if (chart->rules().size() != 7)
        fail("received data changed the rules");

    if (pointsKept() > maxPointsKept)
        chart->clearButton()->click();
    if (comm->entries().size() > maxEntriesKept)
        comm->clearLog();
    return 0;
}
