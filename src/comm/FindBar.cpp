#include "comm/FindBar.h"

#include "comm/BarButton.h"

#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Long enough that typing a word re-filters a full log once, not per letter.
constexpr int kTypingPauseMs = 250;

const struct
{
    LogEntry::Direction direction;
    const char* tag;
    const char* objectName;
} kDirections[] = {{LogEntry::TX, "TX", "findTx"},
                   {LogEntry::RX, "RX", "findRx"},
                   {LogEntry::SYS, "SYS", "findSys"}};

} // namespace

FindBar::FindBar(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("findBar"));
    // What to look for and how to step on one line, where and how to show
    // the matches on the next.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(4);
    auto* searchRow = new QHBoxLayout;
    searchRow->setSpacing(8);
    auto* optionRow = new QHBoxLayout;
    optionRow->setSpacing(12);
    layout->addLayout(searchRow);
    layout->addLayout(optionRow);

    m_pattern = new QLineEdit(this);
    m_pattern->setObjectName(QStringLiteral("findEdit"));
    m_pattern->setPlaceholderText(QStringLiteral("查找内容或正则表达式"));
    m_pattern->setClearButtonEnabled(true);
    m_pattern->installEventFilter(this);
    searchRow->addWidget(m_pattern, 1);
    QPushButton* previous =
        makeBarButton(QStringLiteral("上一个"), QStringLiteral("findPrevious"), this);
    QPushButton* next = makeBarButton(QStringLiteral("下一个"), QStringLiteral("findNext"), this);
    searchRow->addWidget(previous);
    searchRow->addWidget(next);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("findStatus"));
    m_status->setMinimumWidth(90);
    m_status->setAlignment(Qt::AlignCenter);
    searchRow->addWidget(m_status);
    QPushButton* closeButton =
        makeBarButton(QStringLiteral("\u00D7"), QStringLiteral("findClose"), this);
    closeButton->setFixedWidth(28);
    searchRow->addWidget(closeButton);

    m_regex = new QCheckBox(QStringLiteral("正则"), this);
    m_regex->setObjectName(QStringLiteral("findRegex"));
    m_caseSensitive = new QCheckBox(QStringLiteral("区分大小写"), this);
    m_caseSensitive->setObjectName(QStringLiteral("findCase"));
    optionRow->addWidget(m_regex);
    optionRow->addWidget(m_caseSensitive);
    optionRow->addSpacing(12);

    for (int i = 0; i < 3; ++i) {
        m_directions[i] = new QCheckBox(QLatin1String(kDirections[i].tag), this);
        m_directions[i]->setObjectName(QLatin1String(kDirections[i].objectName));
        m_directions[i]->setChecked(true);
        optionRow->addWidget(m_directions[i]);
    }
    optionRow->addSpacing(12);
    m_filter = new QCheckBox(QStringLiteral("只显示匹配"), this);
    m_filter->setObjectName(QStringLiteral("findFilter"));
    optionRow->addWidget(m_filter);
    optionRow->addSpacing(12);
    // In server mode: the entries of one client alone.
    optionRow->addWidget(new QLabel(QStringLiteral("客户端"), this));
    m_peer = new QComboBox(this);
    m_peer->setObjectName(QStringLiteral("findClient"));
    m_peer->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_peer->addItem(QStringLiteral("全部"), QString());
    optionRow->addWidget(m_peer);
    optionRow->addStretch();

    m_typingTimer = new QTimer(this);
    m_typingTimer->setSingleShot(true);
    m_typingTimer->setInterval(kTypingPauseMs);
    connect(m_typingTimer, &QTimer::timeout, this, &FindBar::takeSearch);
    connect(m_pattern, &QLineEdit::textEdited, m_typingTimer, qOverload<>(&QTimer::start));
    for (QCheckBox* box :
         {m_regex, m_caseSensitive, m_directions[0], m_directions[1], m_directions[2]})
        connect(box, &QCheckBox::toggled, this, &FindBar::takeSearch);
    connect(next, &QPushButton::clicked, this, [this] { step(false); });
    connect(previous, &QPushButton::clicked, this, [this] { step(true); });
    connect(m_peer, &QComboBox::currentIndexChanged, this, &FindBar::takeSearch);
    connect(m_filter, &QCheckBox::toggled, this, [this](bool on) {
        takeSearch();
        emit filteringChanged(on);
        showCount();
    });
    connect(closeButton, &QPushButton::clicked, this, &FindBar::close);
}

bool FindBar::isFiltering() const
{
    return m_filter->isChecked() || !m_search.peer().isEmpty();
}

void FindBar::addPeer(const QString& peer)
{
    if (peer.isEmpty() || m_peers.contains(peer))
        return;
    m_peers.insert(peer);
    m_peer->addItem(peer, peer);
}

void FindBar::forgetPeers()
{
    for (int i = m_peer->count() - 1; i > 0; --i) {
        if (i != m_peer->currentIndex()) {
            m_peers.remove(m_peer->itemData(i).toString());
            m_peer->removeItem(i);
        }
    }
}

void FindBar::open()
{
    show();
    m_pattern->setFocus(Qt::ShortcutFocusReason);
    m_pattern->selectAll();
    emit opened();
}

void FindBar::close()
{
    m_filter->setChecked(false);
    m_peer->setCurrentIndex(0);
    hide();
    emit closed();
}

bool FindBar::takeSearch()
{
    m_typingTimer->stop();
    LogSearch search(m_pattern->text(), m_regex->isChecked(), m_caseSensitive->isChecked());
    for (int i = 0; i < 3; ++i)
        search.setDirection(kDirections[i].direction, m_directions[i]->isChecked());
    search.setPeer(m_peer->currentData().toString());

    // The red frame comes from the theme's sheet, by this property.
    const bool valid = search.isValid();
    if (m_pattern->property("invalid").toBool() == valid) {
        m_pattern->setProperty("invalid", !valid);
        m_pattern->style()->unpolish(m_pattern);
        m_pattern->style()->polish(m_pattern);
    }
    if (!valid) {
        setStatus(QStringLiteral("表达式无效"), search.errorString());
        return false;
    }
    if (search != m_search) {
        // The finder counts the new search at once when it counts at all.
        m_matched = -1;
        m_search = search;
        emit searchChanged(m_search);
    }
    showCount();
    return true;
}

void FindBar::step(bool backwards)
{
    if (!takeSearch())
        return;
    if (backwards)
        emit previousRequested();
    else
        emit nextRequested();
}

void FindBar::showMatchCount(int matched, int total)
{
    m_matched = matched;
    m_total = total;
    showCount();
}

void FindBar::showCount()
{
    // An invalid expression keeps its word until it is mended.
    if (m_pattern->property("invalid").toBool())
        return;
    const bool counted = isFiltering() || !m_search.pattern().isEmpty();
    setStatus(counted && m_matched >= 0 ? QStringLiteral("%1 / %2").arg(m_matched).arg(m_total)
                                        : QString());
}

void FindBar::showNotFound()
{
    setStatus(QStringLiteral("无匹配"));
}

void FindBar::setStatus(const QString& chinese, const QString& toolTip)
{
    // Kept as the Chinese original too, so that switching the language back
    // restores this text and not an older one.
    setRuntimeText(m_status, chinese, LanguageManager::translate(chinese));
    m_status->setToolTip(toolTip);
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pattern && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            step(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}
