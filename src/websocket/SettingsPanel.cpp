#include "websocket/SettingsPanel.h"

#include "chart/ChartEngine.h"
#include "comm/CommunicationBase.h"
#include "i18n/LanguageManager.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStringListModel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QHBoxLayout* labelledRow(const QString& caption, QWidget* field, QWidget* labelParent)
{
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(caption, labelParent));
    row->addWidget(field, 1);
    return row;
}

} // namespace

SettingsPanel::SettingsPanel(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("settingsPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->setContentsMargins(0, 0, 0, 0);

    // Mode
    auto* modeGroup = new QGroupBox(QStringLiteral("模式选择"), this);
    auto* modeLayout = new QVBoxLayout(modeGroup);
    m_clientRadio = new QRadioButton(QStringLiteral("WebSocket 客户端"), modeGroup);
    m_clientRadio->setObjectName(QStringLiteral("clientRadio"));
    m_clientRadio->setChecked(true);
    m_serverRadio = new QRadioButton(QStringLiteral("WebSocket 服务端"), modeGroup);
    m_serverRadio->setObjectName(QStringLiteral("serverRadio"));
    modeLayout->addWidget(m_clientRadio);
    modeLayout->addWidget(m_serverRadio);
    layout->addWidget(modeGroup);

    // Connection
    auto* connGroup = new QGroupBox(QStringLiteral("连接设置"), this);
    connGroup->setObjectName(QStringLiteral("connGroup"));
    auto* connLayout = new QVBoxLayout(connGroup);

    m_clientBox = new QWidget(connGroup);
    m_clientBox->setObjectName(QStringLiteral("clientBox"));
    auto* clientBoxLayout = new QVBoxLayout(m_clientBox);
    clientBoxLayout->setContentsMargins(0, 0, 0, 0);
    m_urlEdit = new QLineEdit(QStringLiteral("ws://127.0.0.1:8080/ws"), m_clientBox);
    m_urlEdit->setObjectName(QStringLiteral("urlEdit"));
    m_urlEdit->setCursorPosition(0);
    m_urlEdit->installEventFilter(this);
    QHBoxLayout* addressRow = labelledRow(QStringLiteral("服务器地址"), m_urlEdit, m_clientBox);
    m_optionsMark = new QLabel(m_clientBox);
    m_optionsMark->setObjectName(QStringLiteral("optionsMark"));
    m_optionsMark->setStyleSheet(QStringLiteral("color: #F59E0B;"));
    m_optionsMark->hide();
    addressRow->addWidget(m_optionsMark);
    clientBoxLayout->addLayout(addressRow);
    m_addressModel = new QStringListModel(this);
    auto* completer = new QCompleter(m_addressModel, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    completer->setModelSorting(QCompleter::UnsortedModel);
    m_urlEdit->setCompleter(completer);
    completer->popup()->setObjectName(QStringLiteral("addressPopup"));
    completer->popup()->installEventFilter(this);
    m_rememberSecretsCheck = new QCheckBox(QStringLiteral("记住密钥"), m_clientBox);
    m_rememberSecretsCheck->setObjectName(QStringLiteral("rememberSecretsCheck"));
    clientBoxLayout->addWidget(m_rememberSecretsCheck);
    auto* clientTools = new QHBoxLayout;
    m_clientOptionsButton = new QPushButton(QStringLiteral("连接选项"), m_clientBox);
    m_clientOptionsButton->setObjectName(QStringLiteral("clientOptionsButton"));
    m_pingButton = new QPushButton(QStringLiteral("Ping"), m_clientBox);
    m_pingButton->setObjectName(QStringLiteral("pingButton"));
    m_pingButton->setEnabled(false);
    clientTools->addWidget(m_clientOptionsButton, 1);
    clientTools->addWidget(m_pingButton);
    clientBoxLayout->addLayout(clientTools);
    connLayout->addWidget(m_clientBox);

    m_serverBox = new QWidget(connGroup);
    m_serverBox->setObjectName(QStringLiteral("serverBox"));
    auto* serverBoxLayout = new QVBoxLayout(m_serverBox);
    serverBoxLayout->setContentsMargins(0, 0, 0, 0);
    m_portSpin = new QSpinBox(m_serverBox);
    m_portSpin->setObjectName(QStringLiteral("portSpin"));
    m_portSpin->setRange(1, 65535);
    m_portSpin->setValue(8080);
    serverBoxLayout->addLayout(labelledRow(QStringLiteral("监听端口"), m_portSpin, m_serverBox));
    m_pathEdit = new QLineEdit(QStringLiteral("/ws"), m_serverBox);
    m_pathEdit->setObjectName(QStringLiteral("pathEdit"));
    serverBoxLayout->addLayout(labelledRow(QStringLiteral("监听路径"), m_pathEdit, m_serverBox));
    m_serverOptionsButton = new QPushButton(QStringLiteral("服务选项"), m_serverBox);
    m_serverOptionsButton->setObjectName(QStringLiteral("serverOptionsButton"));
    serverBoxLayout->addWidget(m_serverOptionsButton);
    m_serverBox->hide();
    connLayout->addWidget(m_serverBox);

    m_encodingCombo = new QComboBox(connGroup);
    m_encodingCombo->setObjectName(QStringLiteral("encodingCombo"));
    m_encodingCombo->addItems(CommunicationBase::supportedEncodings());
    m_encodingCombo->setCurrentIndex(0);
    connLayout->addLayout(labelledRow(QStringLiteral("编码"), m_encodingCombo, connGroup));

    m_connectButton = new QPushButton(QStringLiteral("连接"), connGroup);
    m_connectButton->setObjectName(QStringLiteral("accentButton"));
    m_connectButton->setFixedHeight(36);
    connLayout->addWidget(m_connectButton);
    layout->addWidget(connGroup);

    // Connected clients (server mode)
    m_clientsGroup = new QGroupBox(QStringLiteral("已连接客户端"), this);
    m_clientsGroup->setObjectName(QStringLiteral("clientsGroup"));
    auto* clientsLayout = new QVBoxLayout(m_clientsGroup);
    m_clientList = new QListWidget(m_clientsGroup);
    m_clientList->setObjectName(QStringLiteral("clientList"));
    m_clientList->setMinimumHeight(60);
    m_clientList->setMaximumHeight(120);
    // The selection is the target of a send: a click on empty space and Esc
    // clear it (nothing selected means every client).
    m_clientList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_clientList->installEventFilter(this);
    m_clientList->viewport()->installEventFilter(this);
    clientsLayout->addWidget(m_clientList);
    m_disconnectClientButton = new QPushButton(QStringLiteral("断开选中客户端"), m_clientsGroup);
    m_disconnectClientButton->setObjectName(QStringLiteral("dangerButton"));
    // With none selected there is nobody for it to drop.
    m_disconnectClientButton->setEnabled(false);
    connect(m_clientList, &QListWidget::itemSelectionChanged, this,
            &SettingsPanel::updateDisconnectButton);
    m_clientList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_clientList, &QWidget::customContextMenuRequested, this, [this](QPoint pos) {
        const QListWidgetItem* item = m_clientList->itemAt(pos);
        if (!item)
            return;
        QMenu* menu = createClientMenu(item->data(Qt::UserRole).toULongLong(), this);
        menu->exec(m_clientList->viewport()->mapToGlobal(pos));
        delete menu;
    });
    clientsLayout->addWidget(m_disconnectClientButton);
    m_clientsGroup->hide();
    layout->addWidget(m_clientsGroup);

    // Display
    auto* displayGroup = new QGroupBox(QStringLiteral("显示设置"), this);
    auto* displayLayout = new QVBoxLayout(displayGroup);
    m_hexDisplayCheck = new QCheckBox(QStringLiteral("十六进制显示"), displayGroup);
    m_hexDisplayCheck->setObjectName(QStringLiteral("hexDisplayCheck"));
    m_timestampCheck = new QCheckBox(QStringLiteral("显示时间戳"), displayGroup);
    m_timestampCheck->setObjectName(QStringLiteral("timestampCheck"));
    m_timestampCheck->setChecked(true);
    m_autoScrollCheck = new QCheckBox(QStringLiteral("自动滚动"), displayGroup);
    m_autoScrollCheck->setObjectName(QStringLiteral("autoScrollCheck"));
    m_autoScrollCheck->setChecked(true);
    displayLayout->addWidget(m_hexDisplayCheck);
    displayLayout->addWidget(m_timestampCheck);
    displayLayout->addWidget(m_autoScrollCheck);

    m_lineSpacingSpin = new QSpinBox(displayGroup);
    m_lineSpacingSpin->setObjectName(QStringLiteral("lineSpacingSpin"));
    m_lineSpacingSpin->setRange(-10, 10);
    m_lineSpacingSpin->setValue(0);
    m_lineSpacingSpin->setSuffix(QStringLiteral(" px"));
    displayLayout->addLayout(
        labelledRow(QStringLiteral("行间距"), m_lineSpacingSpin, displayGroup));
    m_fontSizeSpin = new QSpinBox(displayGroup);
    m_fontSizeSpin->setObjectName(QStringLiteral("fontSizeSpin"));
    m_fontSizeSpin->setRange(7, 16);
    m_fontSizeSpin->setValue(11);
    m_fontSizeSpin->setSuffix(QStringLiteral(" pt"));
    displayLayout->addLayout(labelledRow(QStringLiteral("字号"), m_fontSizeSpin, displayGroup));
    layout->addWidget(displayGroup);

    // Charts
    auto* chartGroup = new QGroupBox(QStringLiteral("数据可视化"), this);
    chartGroup->setObjectName(QStringLiteral("chartGroup"));
    auto* chartLayout = new QVBoxLayout(chartGroup);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    m_chartEngine = new ChartEngine(chartGroup);
    m_chartEngine->setObjectName(QStringLiteral("chartEngine"));
    chartLayout->addWidget(m_chartEngine->controlPanel());
    // Its two visible pieces now live in the group and the chart tab; the
    // empty shell must not sit over the group's title and take its clicks.
    m_chartEngine->hide();
    layout->addWidget(chartGroup);

    connect(m_clientRadio, &QRadioButton::toggled, this, &SettingsPanel::showMode);
}

void SettingsPanel::showMode(bool clientMode)
{
    m_clientBox->setVisible(clientMode);
    m_serverBox->setVisible(!clientMode);
    m_clientsGroup->setVisible(!clientMode);
    adjustSize();
}

void SettingsPanel::setRecentAddresses(const QStringList& addresses)
{
    m_addressModel->setStringList(addresses);
}

void SettingsPanel::addClient(ConnectionManager::ClientId id, const QString& text)
{
    auto* item = new QListWidgetItem(text);
    item->setData(Qt::UserRole, id);
    m_clientList->addItem(item);
}

void SettingsPanel::removeClient(ConnectionManager::ClientId id)
{
    for (int row = 0; row < m_clientList->count(); ++row) {
        QListWidgetItem* item = m_clientList->item(row);
        if (item->data(Qt::UserRole).toULongLong() == id) {
            // The view would move the selection to a neighbour: another client
            // would silently become the target.
            const bool wasSelected = item->isSelected();
            delete m_clientList->takeItem(row);
            if (wasSelected)
                clearClientSelection();
            updateDisconnectButton();
            break;
        }
    }
}

void SettingsPanel::clearClients()
{
    m_clientList->clear();
    updateDisconnectButton();
}

void SettingsPanel::updateDisconnectButton()
{
    m_disconnectClientButton->setEnabled(!m_clientList->selectedItems().isEmpty());
}

QMenu* SettingsPanel::createClientMenu(ConnectionManager::ClientId id, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    QAction* send = menu->addAction(LanguageManager::translate(QStringLiteral("发送到此客户端")));
    send->setObjectName(QStringLiteral("sendToClientAction"));
    QAction* drop = menu->addAction(LanguageManager::translate(QStringLiteral("断开此客户端")));
    drop->setObjectName(QStringLiteral("dropClientAction"));
    connect(send, &QAction::triggered, this, [this, id] { emit sendToClientRequested(id); });
    connect(drop, &QAction::triggered, this, [this, id] { emit dropClientRequested(id); });
    return menu;
}

ConnectionManager::ClientId SettingsPanel::selectedClient() const
{
    const QList<QListWidgetItem*> selected = m_clientList->selectedItems();
    return selected.isEmpty() ? ConnectionManager::everyClient
                              : selected.first()->data(Qt::UserRole).toULongLong();
}

void SettingsPanel::clearClientSelection()
{
    m_clientList->clearSelection();
    m_clientList->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
}

void SettingsPanel::widenAddressPopup()
{
    // The completer makes its popup as wide as the field, which cuts every
    // address of a server with a path: it gets its longest entry's width,
    // within the screen.
    QAbstractItemView* popup = m_urlEdit->completer()->popup();
    const QRect screen = m_urlEdit->screen()->availableGeometry();
    const int entries = popup->sizeHintForColumn(0) + 2 * popup->frameWidth() +
                        popup->verticalScrollBar()->sizeHint().width();
    const int wanted = std::min(screen.width(), std::max(m_urlEdit->width(), entries));
    popup->setMinimumWidth(wanted);
    QRect shown = popup->geometry();
    shown.setWidth(std::max(shown.width(), wanted));
    if (shown.right() > screen.right())
        shown.moveRight(screen.right());
    if (shown.left() < screen.left())
        shown.moveLeft(screen.left());
    if (shown != popup->geometry())
        popup->setGeometry(shown);
}

bool SettingsPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_urlEdit->completer()->popup() &&
        (event->type() == QEvent::Show || event->type() == QEvent::Move) && !m_widening) {
        m_widening = true;
        widenAddressPopup();
        m_widening = false;
        return false;
    }
    if (watched == m_urlEdit && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down) {
        // Down offers every recent address, whatever the field holds.
        QCompleter* completer = m_urlEdit->completer();
        if (completer->popup()->isVisible() || m_addressModel->rowCount() == 0)
            return false;
        completer->setCompletionPrefix(QString());
        completer->complete();
        return true;
    }
    if (watched == m_urlEdit && event->type() == QEvent::FocusOut) {
        // The scheme is the first thing to check in an address.
        m_urlEdit->setCursorPosition(0);
        return false;
    }
    if (m_clientList && watched == m_clientList->viewport() &&
        event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!m_clientList->itemAt(mouse->position().toPoint()))
            clearClientSelection();
        return false;
    }
    if (watched == m_clientList && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        clearClientSelection();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
