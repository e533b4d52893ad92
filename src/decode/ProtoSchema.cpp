#include "decode/ProtoSchema.h"

#include <QFileInfo>

#include <google/protobuf/compiler/importer.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/util/json_util.h>

namespace gp = google::protobuf;

namespace {

class Collector : public gp::compiler::MultiFileErrorCollector
{
public:
    void AddError(const std::string& file, int line, int column,
                  const std::string& message) override
    {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QStringLiteral("%1:%2:%3: %4")
                    .arg(QString::fromStdString(file))
                    .arg(line + 1)
                    .arg(column + 1)
                    .arg(QString::fromStdString(message));
    }
    QString text;
};

void collectTypes(const gp::Descriptor* message, QStringList* names)
{
    // Map entries are the library's own, not types a user picks.
    if (message->options().map_entry())
        return;
    names->append(QString::fromStdString(message->full_name()));
    for (int k = 0; k < message->nested_type_count(); ++k)
        collectTypes(message->nested_type(k), names);
}

// Bytes the type does not know, at any depth: read as this type they would
// be left out of the JSON without a word.
bool hasUnknownFields(const gp::Message& message, int depth = 0)
{
    const gp::Reflection* reflection = message.GetReflection();
    if (!reflection->GetUnknownFields(message).empty())
        return true;
    // libprotobuf itself stops parsing at 100 levels.
    if (depth > 100)
        return false;
    std::vector<const gp::FieldDescriptor*> fields;
    reflection->ListFields(message, &fields);
    for (const gp::FieldDescriptor* field : fields) {
        if (field->cpp_type() != gp::FieldDescriptor::CPPTYPE_MESSAGE)
            continue;
        if (field->is_repeated()) {
            for (int k = 0; k < reflection->FieldSize(message, field); ++k) {
                if (hasUnknownFields(reflection->GetRepeatedMessage(message, field, k), depth + 1))
                    return true;
            }
        } else if (hasUnknownFields(reflection->GetMessage(message, field), depth + 1)) {
            return true;
        }
    }
    return false;
}

} // namespace

struct ProtoSchema::Parts
{
    gp::compiler::DiskSourceTree tree;
    Collector errors;
    gp::compiler::Importer importer{&tree, &errors};
    gp::DynamicMessageFactory factory{importer.pool()};
    const gp::FileDescriptor* file = nullptr;
};

ProtoSchema::ProtoSchema(const QString& path)
    : m_path(path)
    , m_parts(std::make_unique<Parts>())
{}

ProtoSchema::~ProtoSchema() = default;

std::shared_ptr<const ProtoSchema> ProtoSchema::load(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return nullptr;
    }
    std::shared_ptr<ProtoSchema> schema(new ProtoSchema(info.absoluteFilePath()));
    schema->m_parts->tree.MapPath("", info.absolutePath().toStdString());
    schema->m_parts->file = schema->m_parts->importer.Import(info.fileName().toStdString());
    if (!schema->m_parts->file) {
        *error = schema->m_parts->errors.text;
        return nullptr;
    }
    if (schema->messageTypes().isEmpty()) {
        *error = QStringLiteral("%1 defines no message").arg(info.fileName());
        return nullptr;
    }
    return schema;
}

QStringList ProtoSchema::messageTypes() const
{
    QStringList names;
    const gp::FileDescriptor* file = m_parts->file;
    for (int k = 0; file && k < file->message_type_count(); ++k)
        collectTypes(file->message_type(k), &names);
    return names;
}

std::unique_ptr<gp::Message> ProtoSchema::newMessage(const QString& type, QString* error) const
{
    const gp::Descriptor* descriptor =
        m_parts->importer.pool()->FindMessageTypeByName(type.toStdString());
    if (!descriptor) {
        *error = QStringLiteral("no message %1").arg(type);
        return nullptr;
    }
    return std::unique_ptr<gp::Message>(m_parts->factory.GetPrototype(descriptor)->New());
}

bool ProtoSchema::decode(const QByteArray& bytes, const QString& type, QByteArray* json,
                         QString* error) const
{
    const std::unique_ptr<gp::Message> message = newMessage(type, error);
    if (!message)
        return false;
    gp::io::CodedInputStream input(reinterpret_cast<const quint8*>(bytes.constData()),
                                   int(bytes.size()));
    if (!message->ParseFromCodedStream(&input) || !input.ConsumedEntireMessage()) {
        *error = QStringLiteral("not a %1").arg(type);
        return false;
    }
    // Bytes the type does not know are kept as unknown fields; reading them
    // as this type would be a guess.
    if (hasUnknownFields(*message)) {
        *error = QStringLiteral("fields %1 does not define").arg(type);
        return false;
    }
    std::string out;
    gp::util::JsonPrintOptions options;
    options.preserve_proto_field_names = true;
    options.always_print_primitive_fields = true;
    const auto status = gp::util::MessageToJsonString(*message, &out, options);
    if (!status.ok()) {
        *error = QString::fromStdString(std::string(status.message()));
        return false;
    }
    *json = QByteArray::fromStdString(out);
    return true;
}

bool ProtoSchema::encode(const QByteArray& json, const QString& type, QByteArray* bytes,
                         QString* error) const
{
    const std::unique_ptr<gp::Message> message = newMessage(type, error);
    if (!message)
        return false;
    const auto status = gp::util::JsonStringToMessage(json.toStdString(), message.get());
    if (!status.ok()) {
        *error = QString::fromStdString(std::string(status.message()));
        return false;
    }
    *bytes = QByteArray::fromStdString(message->SerializeAsString());
    return true;
}
