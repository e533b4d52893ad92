#include "comm/EntryDetailPane.h"

#include "comm/BarButton.h"
#include "comm/DetailTextView.h"
#include "comm/EntryDetail.h"
#include "comm/HexDump.h"
#include "comm/HexDumpModel.h"
#include "decode/DecodePage.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"

#include <QApplication>
#include <QClipboard>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPromise>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QThreadPool>
#include <QVBoxLayout>

#include <memory>

namespace {

// "70000 字符", in the active language or in Chinese.
QString characters(qsizetype count, bool chinese)
{
    const QString form = QStringLiteral("%1 字符");
    return (chinese ? form : LanguageManager::translate(form)).arg(count);
}

} // namespace

// One form of the entry in a view of its own, with a button that copies all
// of it; a text shows its first part until "显示全部" is clicked.
class DetailPage : public QWidget
{
public:
    DetailPage(QWidget* view, const QString& copyText, QWidget* parent)
        : QWidget(parent)
        , view(view)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 4, 0, 0);
        layout->setSpacing(4);
        view->setParent(this);
        layout->addWidget(view, 1);
        reason = new QLabel(this);
        reason->setObjectName(view->objectName() + QStringLiteral("Reason"));
        reason->setWordWrap(true);
        reason->hide();
        layout->addWidget(reason);

        auto* footer = new QHBoxLayout;
        footer->setSpacing(8);
        note = new QLabel(this);
        footer->addWidget(note);
        const QString name = view->objectName();
        showAll = makeBarButton(QStringLiteral("显示全部"), name + QStringLiteral("All"), this);
        showAll->hide();
        footer->addWidget(showAll);
        footer->addStretch();
        QPushButton* copy = makeBarButton(copyText, name + QStringLiteral("Copy"), this);
        footer->addWidget(copy);
        layout->addLayout(footer);

        connect(copy, &QPushButton::clicked, this, [this] {
            if (whole)
                QGuiApplication::clipboard()->setText(whole(), QClipboard::Clipboard);
        });
        if (auto* text = qobject_cast<DetailTextView*>(view)) {
            connect(showAll, &QPushButton::clicked, text, &DetailTextView::showAll);
            connect(text, &DetailTextView::completed, this, [this] { updateNote(); });
        }
    }

    void setText(const QString& text)
    {
        auto* textView = static_cast<DetailTextView*>(view);
        textView->setFullText(text);
        whole = [textView] {
            return textView->fullText();
        };
        updateNote();
    }

    // One line above the footer on why the view shows what it shows.
    void setReason(const QString& chinese)
    {
        setRuntimeText(reason, chinese, LanguageManager::translate(chinese));
        reason->setVisible(!chinese.isEmpty());
    }

    void setBytes(const QByteArray& bytes)
    {
        static_cast<HexDumpModel*>(static_cast<QTableView*>(view)->model())->setBytes(bytes);
        whole = [bytes] {
            return HexDump::format(bytes);
        };
    }

    void updateNote()
    {
        auto* textView = qobject_cast<DetailTextView*>(view);
        const bool partial = textView && !textView->isComplete();
        showAll->setVisible(partial);
        const QString form = QStringLiteral("只显示了开头，共 %1");
        if (!partial) {
            setRuntimeText(note, QString(), QString());
            return;
        }
        const qsizetype size = textView->fullText().size();
        setRuntimeText(note, form.arg(characters(size, true)),
                       LanguageManager::translate(form).arg(characters(size, false)));
    }

    QWidget* view;

private:
    QLabel* note = nullptr;
    QLabel* reason = nullptr;
    QPushButton* showAll = nullptr;
    std::function<QString()> whole;
};

EntryDetailPane::EntryDetailPane(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("detailPane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(6);

    m_fields = new QWidget(this);
    auto* fields = new QHBoxLayout(m_fields);
    fields->setContentsMargins(0, 0, 0, 0);
    fields->setSpacing(6);
    layout->addWidget(m_fields);
    m_time = addField(QStringLiteral("时间"), "detailTime");
    m_direction = addField(QStringLiteral("方向"), "detailDirection");
    m_frame = addField(QStringLiteral("帧类型"), "detailFrame");
    m_size = addField(QStringLiteral("大小"), "detailSize");
    m_peer = addField(QStringLiteral("对端"), "detailPeer");

    m_goneNote =
        new QLabel(QStringLiteral("日志已不再保存这一行的条目，这里只有该行显示的文字。"), this);
    m_goneNote->setObjectName(QStringLiteral("detailGone"));
    m_goneNote->setWordWrap(true);
    m_goneNote->hide();
    layout->addWidget(m_goneNote);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("detailTabs"));
    auto* textView = new DetailTextView(this);
    textView->setObjectName(QStringLiteral("detailText"));
    auto* jsonView = new DetailTextView(this);
    jsonView->setObjectName(QStringLiteral("detailJson"));
    jsonView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_textPage = new DetailPage(textView, QStringLiteral("复制文本"), m_tabs);
    m_hexPage = new DetailPage(createHexView(), QStringLiteral("复制十六进制"), m_tabs);
    m_jsonPage = new DetailPage(jsonView, QStringLiteral("复制 JSON"), m_tabs);
    m_tabs->addTab(m_textPage, QStringLiteral("文本"));
    m_tabs->addTab(m_hexPage, QStringLiteral("十六进制"));
    m_tabs->addTab(m_jsonPage, QStringLiteral("JSON"));
    auto* protocolView = new DetailTextView(this);
    protocolView->setObjectName(QStringLiteral("detailProtocol"));
    protocolView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_protocolPage = new DetailPage(protocolView, QStringLiteral("复制"), m_tabs);
    m_tabs->addTab(m_protocolPage, QString());
    m_tabs->setTabVisible(m_tabs->indexOf(m_protocolPage), false);
    m_decodePage = new DecodePage(m_tabs);
    m_decodePage->setObjectName(QStringLiteral("detailDecode"));
    m_tabs->addTab(m_decodePage, QStringLiteral("解码"));
    layout->addWidget(m_tabs, 1);

    // The pane's own buttons sit beside its tabs, where they take no line.
    auto* corner = new QWidget(m_tabs);
    auto* cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 0, 0, 2);
    cornerLayout->setSpacing(6);
    QPushButton* copyInfo =
        makeBarButton(QStringLiteral("复制信息"), QStringLiteral("detailInfoCopy"), corner);
    QPushButton* close =
        makeBarButton(QStringLiteral("\u00D7"), QStringLiteral("detailClose"), corner);
    close->setFixedWidth(28);
    cornerLayout->addWidget(copyInfo);
    cornerLayout->addWidget(close);
    m_tabs->setCornerWidget(corner, Qt::TopRightCorner);

    m_jsonPool = new QThreadPool(this);
    m_jsonPool->setMaxThreadCount(1);

    connect(copyInfo, &QPushButton::clicked, this, [this] {
        if (!m_gone)
            QGuiApplication::clipboard()->setText(EntryDetail(m_entry).infoText(),
                                                  QClipboard::Clipboard);
    });
    connect(close, &QPushButton::clicked, this, &EntryDetailPane::closeRequested);
    // The fields are words of the active language, formed anew on a switch.
    LanguageManager::addListener(this, [this] {
        showFields();
        for (DetailPage* page : {m_textPage, m_jsonPage})
            page->updateNote();
    });
}

EntryDetailPane::~EntryDetailPane()
{
    // The pool waits for its job when it goes: told to stop, it ends soon.
    stopIndenting();
}

void EntryDetailPane::hideEvent(QHideEvent* event)
{
    // A closed pane wants no indentation; a minimised window still does.
    if (!event->spontaneous())
        stopIndenting();
    QFrame::hideEvent(event);
}

QTableView* EntryDetailPane::createHexView()
{
    auto* view = new QTableView(this);
    view->setObjectName(QStringLiteral("detailHex"));
    view->setModel(new HexDumpModel(view));
    view->horizontalHeader()->hide();
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    // Fixed row heights keep a million lines as cheap as a hundred.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->installEventFilter(this);
    return view;
}

bool EntryDetailPane::eventFilter(QObject* watched, QEvent* event)
{
    // Ctrl+C in the dump copies the selected lines, not only the current one.
    auto* view = qobject_cast<QTableView*>(watched);
    if (view && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        QModelIndexList rows = view->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end());
        QStringList lines;
        for (const QModelIndex& row : std::as_const(rows))
            lines.append(row.data().toString());
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')), QClipboard::Clipboard);
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

QLineEdit* EntryDetailPane::addField(const QString& name, const char* objectName)
{
    auto* fields = static_cast<QHBoxLayout*>(m_fields->layout());
    auto* label = new QLabel(name, m_fields);
    auto* value = new QLineEdit(m_fields);
    value->setObjectName(QLatin1String(objectName));
    // Selectable and copyable, and not an interface text to translate.
    value->setReadOnly(true);
    value->setFrame(false);
    fields->addWidget(label);
    fields->addWidget(value, 1);
    return value;
}

void EntryDetailPane::showEntry(const LogEntry& entry)
{
    m_entry = entry;
    m_gone = false;
    m_goneNote->hide();
    m_fields->show();
    showFields();

    const EntryDetail detail(entry);
    m_textPage->setText(detail.text());
    m_hexPage->setBytes(detail.bytes());
    // A system message has no bytes.
    m_tabs->setTabVisible(m_tabs->indexOf(m_hexPage), !detail.isMessage());
    indentJson(detail.text());
    const std::optional<EntryReading> reading =
        m_reader && !detail.isMessage() ? m_reader(entry) : std::nullopt;
    if (reading) {
        m_protocolPage->setText(reading->text);
        m_tabs->setTabText(m_tabs->indexOf(m_protocolPage), reading->title);
    }
    m_tabs->setTabVisible(m_tabs->indexOf(m_protocolPage), reading.has_value());
    const bool decodable = DecodePage::offers(entry);
    m_tabs->setTabVisible(m_tabs->indexOf(m_decodePage), decodable);
    if (decodable)
        m_decodePage->showFrame(entry.rawData(), entry.frameKind() == LogEntry::FrameKind::Text);
    if (!m_tabs->isTabVisible(m_tabs->currentIndex()))
        m_tabs->setCurrentWidget(m_textPage);
}

void EntryDetailPane::stopIndenting()
{
    // A result for an earlier entry is not wanted any more.
    if (!m_jsonWatcher)
        return;
    m_jsonWatcher->cancel();
    delete m_jsonWatcher;
    m_jsonWatcher = nullptr;
}

void EntryDetailPane::indentJson(const QString& text)
{
    stopIndenting();
    if (text.size() <= EntryDetail::previewChars) {
        bool tooLarge = false;
        const QString indented = EntryDetail::prettyJson(text, &tooLarge);
        showJson(indented, tooLarge, text);
        return;
    }
    // Indenting megabytes takes a second: it runs on a worker, and the tab
    // shows once the text turns out to be JSON.
    showJson(QString());
    auto promise = std::make_shared<QPromise<QString>>();
    auto tooLarge = std::make_shared<bool>(false);
    promise->start();
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, tooLarge, text] {
        if (!watcher->isCanceled() && watcher->future().resultCount() > 0)
            showJson(watcher->result(), *tooLarge, text);
    });
    watcher->setFuture(promise->future());
    m_jsonWatcher = watcher;
    m_jsonPool->start([promise, tooLarge, text] {
        QString indented;
        if (!promise->isCanceled())
            indented = EntryDetail::prettyJson(text, tooLarge.get(),
                                               [&promise] { return promise->isCanceled(); });
        promise->addResult(indented);
        promise->finish();
    });
}

void EntryDetailPane::showJson(const QString& json, bool tooLarge, const QString& text)
{
    m_jsonPage->setText(tooLarge ? text : json);
    m_jsonPage->setReason(tooLarge ? QStringLiteral("缩进后的文本过大，这里按原样显示。")
                                   : QString());
    // Only JSON has an indented form.
    m_tabs->setTabVisible(m_tabs->indexOf(m_jsonPage), tooLarge || !json.isEmpty());
    if (!m_tabs->isTabVisible(m_tabs->currentIndex()))
        m_tabs->setCurrentWidget(m_textPage);
}

void EntryDetailPane::showGoneRow(const QString& rowText)
{
    m_entry = LogEntry();
    m_gone = true;
    m_fields->hide();
    m_goneNote->show();
    m_textPage->setText(rowText);
    m_tabs->setTabVisible(m_tabs->indexOf(m_hexPage), false);
    m_tabs->setTabVisible(m_tabs->indexOf(m_decodePage), false);
    stopIndenting();
    showJson(QString());
}

void EntryDetailPane::showFields()
{
    if (m_gone)
        return;
    const EntryDetail detail(m_entry);
    m_time->setText(detail.timeText());
    m_direction->setText(detail.directionText());
    m_peer->setText(detail.peerText());
    m_frame->setText(detail.frameText());
    m_size->setText(detail.sizeText());
    // The short fields as wide as their words, the peer takes the rest.
    for (QLineEdit* value : {m_time, m_direction, m_frame, m_size})
        value->setFixedWidth(value->fontMetrics().horizontalAdvance(value->text()) + 12);
    m_peer->setCursorPosition(0);
}
