#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// A .proto file read at run time with libprotobuf's importer (its imports
// from its own folder), and its messages decoded from and encoded to JSON
// through dynamic messages: no code generated at build time.
namespace google::protobuf {
class Message;
}

class ProtoSchema
{
public:
    // The schema, or null with `error` saying what the file lacks.
    static std::shared_ptr<const ProtoSchema> load(const QString& path, QString* error);
    ~ProtoSchema();

    QString path() const { return m_path; }
    // Every message type, nested ones included, by full name ("pkg.Reading").
    QStringList messageTypes() const;

    // `bytes` as message `type`, printed as JSON with the .proto's field names.
    bool decode(const QByteArray& bytes, const QString& type, QByteArray* json,
                QString* error) const;
    bool encode(const QByteArray& json, const QString& type, QByteArray* bytes,
                QString* error) const;

private:
    struct Parts;
    // An empty message of `type`, or null with `error` saying there is none.
    std::unique_ptr<google::protobuf::Message> newMessage(const QString& type,
                                                          QString* error) const;
    explicit ProtoSchema(const QString& path);

    QString m_path;
    std::unique_ptr<Parts> m_parts;
};
