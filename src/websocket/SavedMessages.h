#pragma once

#include "websocket/SendBoxContent.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One named message of the "快捷发送" list.
struct SavedMessage
{
    QString name;
    SendBoxContent content;

    bool operator==(const SavedMessage& other) const
    {
        return name == other.name && content == other.content;
    }
};

// The "快捷发送" list, in the user's order, and its JSON file form.
class SavedMessages
{
public:
    // The list holds at most this many, and this many come back at a start.
    static constexpr int maxCount = 10000;

    const QList<SavedMessage>& items() const { return m_items; }
    int count() const { return int(m_items.size()); }
    void setItems(const QList<SavedMessage>& items) { m_items = items; }

    // Returns the new row. An empty name becomes defaultName() of the content.
    int add(SavedMessage message);
    void replace(int row, const SavedMessage& message);
    // Swaps the row with its neighbour; false when there is none.
    bool move(int row, int offset);
    void remove(int row);

    QByteArray toJson() const;
    // The messages of a file written by toJson(); on anything else nothing
    // and a reason in `error`, in Chinese.
    static std::optional<QList<SavedMessage>> fromJson(const QByteArray& json, QString* error);

    // The first line of the text, shortened ("未命名" when there is none).
    static QString defaultName(const SendBoxContent& content);

private:
    bool isRow(int row) const { return row >= 0 && row < m_items.size(); }

    QList<SavedMessage> m_items;
};
