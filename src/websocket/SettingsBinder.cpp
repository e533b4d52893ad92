#include "websocket/SettingsBinder.h"

#include "chart/ChartEngine.h"
#include "i18n/LanguageManager.h"
#include "websocket/AddressOptionsController.h"
#include "websocket/BodySplitter.h"
#include "websocket/ConnectionManager.h"
#include "websocket/QuickSendPanel.h"
#include "websocket/RecentAddresses.h"
#include "websocket/SendArea.h"
#include "websocket/SendController.h"
#include "websocket/SettingsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

SettingsBinder::SettingsBinder(const Parts& parts, QObject* parent)
    : QObject(parent)
    , m(parts)
{}

WindowSettings SettingsBinder::read() const
{
    const SettingsPanel* p = m.panel;
    const SendArea* a = m.sendArea;
    const ChartEngine* chart = p->chartEngine();
    WindowSettings s;
    s.serverMode = p->serverRadio()->isChecked();
    s.address = p->urlEdit()->text();
    s.port = p->portSpin()->value();
    s.path = p->pathEdit()->text();
    s.encoding = p->encodingCombo()->currentText();
    s.rememberSecrets = p->rememberSecretsCheck()->isChecked();
    s.recentAddresses = m.recentAddresses->addresses();
    s.clientOptions = m.connection->clientOptions();
    s.addressOptions = m.addressOptions->store().entries();
    s.serverOptions = m.connection->serverOptions();

    s.hexDisplay = p->hexDisplayCheck()->isChecked();
    s.showTimestamp = p->timestampCheck()->isChecked();
    s.autoScroll = p->autoScrollCheck()->isChecked();
    s.detailPane = m.detailToggle->isChecked();
    s.lineSpacing = p->lineSpacingSpin()->value();
    s.fontSize = p->fontSizeSpin()->value();

    s.hexSend = a->hexSendCheck()->isChecked();
    s.binarySend = a->binaryRadio()->isChecked();
    s.enterSends = a->enterSendCheck()->isChecked();
    s.autoSendIntervalMs = a->intervalSpin()->value();
    s.sendHistory = m.sender->history().entries();
    s.savedMessages = m.quickSend->messages();

    s.chartEnabled = chart->enableCheckBox()->isChecked();
    s.chartTemplate = chart->templateCombo()->currentIndex();
    s.chartType = chart->chartTypeCombo()->currentIndex();
    s.timeWindowSeconds = chart->timeWindowSeconds();
    s.chartRules = chart->rules();

    s.english = LanguageManager::isEnglish();
    s.geometry = m.window->saveGeometry();
    s.settingsWidth = m.splitter->columnWidth();
    return s;
}

void SettingsBinder::apply(const WindowSettings& s, QStringList* rejected)
{
    SettingsPanel* p = m.panel;
    SendArea* a = m.sendArea;
    ChartEngine* chart = p->chartEngine();
    (s.serverMode ? p->serverRadio() : p->clientRadio())->setChecked(true);
    // Each address's options first: the address shown takes its own.
    AddressOptions kept;
    kept.setEntries(s.addressOptions);
    m.addressOptions->setStore(kept);
    p->urlEdit()->setText(s.address);
    p->urlEdit()->setCursorPosition(0);
    p->portSpin()->setValue(s.port);
    p->pathEdit()->setText(s.path);
    p->encodingCombo()->setCurrentText(s.encoding);
    p->rememberSecretsCheck()->setChecked(s.rememberSecrets);
    m.recentAddresses->setAddresses(s.recentAddresses);
    p->setRecentAddresses(m.recentAddresses->addresses());
    m.connection->setClientOptions(s.clientOptions);
    m.connection->setServerOptions(s.serverOptions);

    p->hexDisplayCheck()->setChecked(s.hexDisplay);
    p->timestampCheck()->setChecked(s.showTimestamp);
    p->autoScrollCheck()->setChecked(s.autoScroll);
    m.detailToggle->setChecked(s.detailPane);
    p->lineSpacingSpin()->setValue(s.lineSpacing);
    p->fontSizeSpin()->setValue(s.fontSize);

    a->hexSendCheck()->setChecked(s.hexSend);
    (s.binarySend ? a->binaryRadio() : a->textRadio())->setChecked(true);
    a->enterSendCheck()->setChecked(s.enterSends);
    a->intervalSpin()->setValue(s.autoSendIntervalMs);
    m.sender->history().setEntries(s.sendHistory);
    m.quickSend->setMessages(s.savedMessages);

    // The type first: each restored rule rebuilds the chart in it.
    chart->enableCheckBox()->setChecked(s.chartEnabled);
    chart->chartTypeCombo()->setCurrentIndex(s.chartType);
    chart->timeWindowSpin()->setValue(s.timeWindowSeconds);
    chart->restoreRules(s.chartRules);
    chart->showTemplateWithoutApplying(s.chartTemplate);

    if (!s.geometry.isEmpty() && !m.window->restoreGeometry(s.geometry))
        rejected->append(QStringLiteral("window/geometry"));
    m.splitter->setColumnWidth(s.settingsWidth);
    if (s.english)
        m.languageCombo->setCurrentIndex(1);
}

void SettingsBinder::watch()
{
    SettingsPanel* p = m.panel;
    SendArea* a = m.sendArea;
    ChartEngine* chart = p->chartEngine();
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             p->clientRadio(), p->rememberSecretsCheck(), p->hexDisplayCheck(), p->timestampCheck(),
             p->autoScrollCheck(), a->hexSendCheck(), a->binaryRadio(), a->enterSendCheck(),
             chart->enableCheckBox(), m.detailToggle})
        connect(button, &QAbstractButton::toggled, this, &SettingsBinder::changed);
    for (QSpinBox* spin : {p->portSpin(), p->lineSpacingSpin(), p->fontSizeSpin(),
                           a->intervalSpin(), chart->timeWindowSpin()})
        connect(spin, &QSpinBox::valueChanged, this, &SettingsBinder::changed);
    for (QLineEdit* edit : {p->urlEdit(), p->pathEdit()})
        connect(edit, &QLineEdit::textChanged, this, &SettingsBinder::changed);
    for (QComboBox* combo :
         {p->encodingCombo(), m.languageCombo, chart->templateCombo(), chart->chartTypeCombo()})
        connect(combo, &QComboBox::currentIndexChanged, this, &SettingsBinder::changed);
    connect(chart, &ChartEngine::rulesChanged, this, &SettingsBinder::changed);
    connect(m.quickSend, &QuickSendPanel::changed, this, &SettingsBinder::changed);
    connect(m.connection, &ConnectionManager::optionsChanged, this, &SettingsBinder::changed);
    connect(m.addressOptions, &AddressOptionsController::changed, this, &SettingsBinder::changed);
    connect(m.splitter, &BodySplitter::columnWidthChanged, this, &SettingsBinder::changed);
    // Size and position.
    m.window->installEventFilter(this);
}

bool SettingsBinder::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m.window && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        emit changed();
    return QObject::eventFilter(watched, event);
}
