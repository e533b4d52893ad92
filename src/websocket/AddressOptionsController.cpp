#include "websocket/AddressOptionsController.h"

#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"
#include "websocket/ConnectionManager.h"

#include <QLabel>
#include <QLineEdit>

AddressOptionsController::AddressOptionsController(QLineEdit* address, QLabel* mark,
                                                   ConnectionManager* connection, QObject* parent)
    : QObject(parent)
    , m_address(address)
    , m_mark(mark)
    , m_connection(connection)
{
    connect(m_address, &QLineEdit::textChanged, this,
            &AddressOptionsController::takeOptionsOfAddress);
    connect(m_connection, &ConnectionManager::clientOptionsChanged, this,
            &AddressOptionsController::keepOptions);
    LanguageManager::addListener(this, [this] { updateMark(); });
    // Whatever is in effect now belongs to the address shown.
    keepOptions();
}

void AddressOptionsController::setStore(const AddressOptions& store)
{
    m_store = store;
    takeOptionsOfAddress();
    emit changed();
}

void AddressOptionsController::takeOptionsOfAddress()
{
    m_taking = true;
    m_connection->setClientOptions(m_store.optionsFor(m_address->text()));
    m_taking = false;
    updateMark();
}

void AddressOptionsController::keepOptions()
{
    updateMark();
    if (m_taking)
        return;
    m_store.setOptions(m_address->text(), m_connection->clientOptions());
    emit changed();
}

void AddressOptionsController::updateMark()
{
    const auto differences = m_connection->clientOptions().differences();
    m_mark->setVisible(!differences.isEmpty());
    const QString text = QStringLiteral("⚙ %1").arg(differences.size());
    setRuntimeText(m_mark, text, text);
    m_mark->setToolTip(
        AddressOptions::differenceLines(m_connection->clientOptions()).join(QLatin1Char('\n')));
}
