#pragma once

#include "websocket/AddressOptions.h"

#include <QObject>

class ConnectionManager;
class QLabel;
class QLineEdit;

// Keeps the connection's client options per address: a new address in the
// field brings its own options back (the defaults for one never set), and
// options set while an address is shown are kept for it. The mark next to
// the address ("⚙ N") counts the options that differ from their defaults.
class AddressOptionsController : public QObject
{
    Q_OBJECT

public:
    AddressOptionsController(QLineEdit* address, QLabel* mark, ConnectionManager* connection,
                             QObject* parent = nullptr);

    const AddressOptions& store() const { return m_store; }
    // Replaces what is kept; the shown address takes its options from it.
    void setStore(const AddressOptions& store);

signals:
    // What is kept changed.
    void changed();

private:
    void takeOptionsOfAddress();
    void keepOptions();
    void updateMark();

    QLineEdit* m_address;
    QLabel* m_mark;
    ConnectionManager* m_connection;
    AddressOptions m_store;
    // Set while the options are the address's own, being put in place.
    bool m_taking = false;
};
