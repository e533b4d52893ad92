#include "websocket/WindowSettings.h"

#include "comm/CommunicationBase.h"
#include "websocket/AddressCheck.h"
#include "websocket/OptionMap.h"
#include "websocket/RecentAddresses.h"
#include "websocket/SecretMask.h"
#include "websocket/SendHistory.h"

#include <QSettings>

#include <algorithm>
#include <functional>

namespace {

// Bounds for hand-edited array sizes, so that a wild number cannot stall the start.
constexpr int maxRules = 1000;

const QStringList& modeNames()
{
    static const QStringList names{QStringLiteral("client"), QStringLiteral("server")};
    return names;
}

const QStringList& frameNames()
{
    static const QStringList names{QStringLiteral("text"), QStringLiteral("binary")};
    return names;
}

const QStringList& axisNames()
{
    static const QStringList names{QStringLiteral("left"), QStringLiteral("right")};
    return names;
}

const QStringList& chartTypeNames()
{
    static const QStringList names{QStringLiteral("line"),    QStringLiteral("spline"),
                                   QStringLiteral("scatter"), QStringLiteral("area"),
                                   QStringLiteral("bar"),     QStringLiteral("pie")};
    return names;
}

const QStringList& languageNames()
{
    static const QStringList names{QStringLiteral("zh"), QStringLiteral("en")};
    return names;
}

QVariantMap groupValues(QSettings& file, const QString& group)
{
    QVariantMap values;
    file.beginGroup(group);
    const QStringList keys = file.childKeys();
    for (const QString& key : keys)
        values.insert(key, file.value(key));
    file.endGroup();
    return values;
}

void writeGroup(QSettings& file, const QString& group, const QVariantMap& values)
{
    file.beginGroup(group);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        file.setValue(it.key(), it.value());
    file.endGroup();
}

void nameRejected(const QString& prefix, const QStringList& keys, QStringList* rejected)
{
    for (const QString& key : keys)
        rejected->append(prefix + QLatin1Char('/') + key);
}

// Reads one group's values through `read`; what it rejects is named "group/key".
void readGroup(QSettings& file, const QString& group, QStringList* rejected,
               const std::function<void(const OptionMap&)>& read)
{
    const QVariantMap values = groupValues(file, group);
    QStringList local;
    read(OptionMap(values, &local));
    nameRejected(group, local, rejected);
}

// The elements of an array that `read` accepts without a rejected key; the
// others are named "array/index" and left out.
QList<QVariantMap> arrayElements(QSettings& file, const QString& array, int limit)
{
    const int size = std::min(file.beginReadArray(array), limit);
    QList<QVariantMap> elements;
    for (int i = 0; i < size; ++i) {
        file.setArrayIndex(i);
        QVariantMap values;
        const QStringList keys = file.childKeys();
        for (const QString& key : keys)
            values.insert(key, file.value(key));
        elements.append(values);
    }
    file.endArray();
    return elements;
}

template<typename T>
QList<T> readArray(QSettings& file, const QString& array, int limit, QStringList* rejected,
                   const std::function<bool(const OptionMap&, T*)>& read)
{
    const QList<QVariantMap> elements = arrayElements(file, array, limit);
    QList<T> accepted;
    for (int i = 0; i < elements.size(); ++i) {
        QStringList local;
        T value;
        if (read(OptionMap(elements.at(i), &local), &value) && local.isEmpty())
            accepted.append(value);
        else
            rejected->append(array + QLatin1Char('/') + QString::number(i + 1));
    }
    return accepted;
}

void writeArray(QSettings& file, const QString& array, const QList<QVariantMap>& elements)
{
    file.beginWriteArray(array, int(elements.size()));
    for (int i = 0; i < elements.size(); ++i) {
        file.setArrayIndex(i);
        const QVariantMap& values = elements.at(i);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            file.setValue(it.key(), it.value());
    }
    file.endArray();
}

// A send box content as array element keys, and back.
QVariantMap contentValues(const SendBoxContent& content)
{
    return {{QStringLiteral("text"), content.text},
            {QStringLiteral("hex"), content.hex},
            {QStringLiteral("frame"), frameNames().at(content.binary ? 1 : 0)}};
}

bool readContent(const OptionMap& in, SendBoxContent* content)
{
    int frame = -1;
    in.read("text", &content->text);
    in.read("hex", &content->hex);
    in.readChoice("frame", &frame, frameNames());
    content->binary = frame == 1;
    return frame >= 0;
}

bool readRule(const OptionMap& in, ChartRule* rule)
{
    in.read("name", &rule->name);
    in.read("expression", &rule->expression);
    rule->name = rule->name.trimmed();
    rule->expression = rule->expression.trimmed();
    // A hand-written rule may leave the kind to the expression, as typed ones do.
    rule->kind = ruleKindForExpression(rule->expression);
    in.read("kind", &rule->kind, JsonPath, RegexPresence);
    in.readChoice("axis", &rule->axis, axisNames());
    return !rule->name.isEmpty() && !rule->expression.isEmpty();
}

bool sameRules(const QList<ChartRule>& a, const QList<ChartRule>& b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(),
                      [](const ChartRule& x, const ChartRule& y) {
                          return x.name == y.name && x.kind == y.kind &&
                                 x.expression == y.expression && x.axis == y.axis;
                      });
}

} // namespace

bool WindowSettings::operator==(const WindowSettings& o) const
{
    return serverMode == o.serverMode && address == o.address && port == o.port && path == o.path &&
           encoding == o.encoding && rememberSecrets == o.rememberSecrets &&
           recentAddresses == o.recentAddresses && clientOptions == o.clientOptions &&
           addressOptions == o.addressOptions && settingsWidth == o.settingsWidth &&
           serverOptions == o.serverOptions && hexDisplay == o.hexDisplay &&
           showTimestamp == o.showTimestamp && autoScroll == o.autoScroll &&
           detailPane == o.detailPane && lineSpacing == o.lineSpacing && fontSize == o.fontSize &&
           hexSend == o.hexSend && binarySend == o.binarySend && enterSends == o.enterSends &&
           autoSendIntervalMs == o.autoSendIntervalMs && sendHistory == o.sendHistory &&
           savedMessages == o.savedMessages && chartEnabled == o.chartEnabled &&
           chartTemplate == o.chartTemplate && chartType == o.chartType &&
           timeWindowSeconds == o.timeWindowSeconds && sameRules(chartRules, o.chartRules) &&
           english == o.english && geometry == o.geometry;
}

WindowSettings WindowSettings::read(QSettings& file, QStringList* rejected)
{
    WindowSettings s;

    readGroup(file, QStringLiteral("connection"), rejected, [&s](const OptionMap& in) {
        int mode = s.serverMode ? 1 : 0;
        in.readChoice("mode", &mode, modeNames());
        s.serverMode = mode == 1;
        in.read("address", &s.address);
        in.read("port", &s.port, 1, 65535);
        in.read("path", &s.path);
        int encoding = 0;
        in.readChoice("encoding", &encoding, CommunicationBase::supportedEncodings());
        s.encoding = CommunicationBase::supportedEncodings().at(encoding);
        in.read("rememberSecrets", &s.rememberSecrets);
        QStringList addresses;
        in.read("recentAddresses", &addresses);
        RecentAddresses recent;
        recent.setAddresses(addresses);
        s.recentAddresses = recent.addresses();
    });

    QStringList local;
    s.clientOptions =
        ClientOptions::fromVariantMap(groupValues(file, QStringLiteral("client")), &local);
    nameRejected(QStringLiteral("client"), local, rejected);
    // An element without an address is dropped; its bad values keep their defaults.
    const QList<QVariantMap> perAddress =
        arrayElements(file, QStringLiteral("addressOptions"), AddressOptions::capacity);
    for (qsizetype i = 0; i < perAddress.size(); ++i) {
        QVariantMap values = perAddress.at(i);
        const QVariant address = values.take(QStringLiteral("address"));
        const QString prefix = QStringLiteral("addressOptions/%1").arg(i + 1);
        if (address.typeId() != QMetaType::QString || address.toString().trimmed().isEmpty()) {
            rejected->append(prefix);
            continue;
        }
        local.clear();
        s.addressOptions.append({AddressOptions::keyFor(address.toString()),
                                 ClientOptions::fromVariantMap(values, &local)});
        nameRejected(prefix, local, rejected);
    }
    AddressOptions kept;
    kept.setEntries(s.addressOptions);
    s.addressOptions = kept.entries();
    local.clear();
    s.serverOptions =
        ServerOptions::fromVariantMap(groupValues(file, QStringLiteral("server")), &local);
    nameRejected(QStringLiteral("server"), local, rejected);

    readGroup(file, QStringLiteral("display"), rejected, [&s](const OptionMap& in) {
        in.read("hex", &s.hexDisplay);
        in.read("timestamp", &s.showTimestamp);
        in.read("autoScroll", &s.autoScroll);
        in.read("detailPane", &s.detailPane);
        in.read("lineSpacing", &s.lineSpacing, -10, 10);
        in.read("fontSize", &s.fontSize, 7, 16);
    });

    readGroup(file, QStringLiteral("send"), rejected, [&s](const OptionMap& in) {
        in.read("hex", &s.hexSend);
        int frame = s.binarySend ? 1 : 0;
        in.readChoice("frame", &frame, frameNames());
        s.binarySend = frame == 1;
        in.read("enterSends", &s.enterSends);
        in.read("autoSendIntervalMs", &s.autoSendIntervalMs, 10, 60000);
    });
    s.sendHistory =
        readArray<SendBoxContent>(file, QStringLiteral("history"), SendHistory::capacity, rejected,
                                  [](const OptionMap& in, SendBoxContent* content) {
                                      return readContent(in, content) && !content->text.isEmpty();
                                  });
    s.savedMessages = readArray<SavedMessage>(
        file, QStringLiteral("quickSend"), SavedMessages::maxCount, rejected,
        [](const OptionMap& in, SavedMessage* message) {
            in.read("name", &message->name);
            return !message->name.trimmed().isEmpty() && readContent(in, &message->content);
        });

    readGroup(file, QStringLiteral("chart"), rejected, [&s](const OptionMap& in) {
        in.read("enabled", &s.chartEnabled);
        in.read("template", &s.chartTemplate, 0, 4);
        in.readChoice("type", &s.chartType, chartTypeNames());
        in.read("timeWindowSeconds", &s.timeWindowSeconds, 5, 600);
    });
    s.chartRules =
        readArray<ChartRule>(file, QStringLiteral("chartRules"), maxRules, rejected, readRule);

    file.beginGroup(QStringLiteral("window"));
    const QVariant geometry = file.value(QStringLiteral("geometry"));
    file.endGroup();
    if (geometry.typeId() == QMetaType::QByteArray)
        s.geometry = geometry.toByteArray();
    else if (geometry.isValid())
        rejected->append(QStringLiteral("window/geometry"));
    readGroup(file, QStringLiteral("window"), rejected, [&s](const OptionMap& in) {
        int language = s.english ? 1 : 0;
        in.readChoice("language", &language, languageNames());
        s.english = language == 1;
        in.read("settingsWidth", &s.settingsWidth, 0, 4000);
    });
    // Sections are parsed as they are first read: a garbled line only shows
    // in the status once everything has been read.
    if (file.status() != QSettings::NoError)
        rejected->append(QStringLiteral("file"));
    return s;
}

void WindowSettings::write(QSettings& file) const
{
    file.clear();

    RecentAddresses recent;
    recent.setAddresses(recentAddresses);
    QStringList addresses = recent.storable(rememberSecrets);
    QString shownAddress = rememberSecrets ? address : SecretMask::withoutSecrets(address);
    // What does not parse may hide a password where no one expects it: its
    // user info is never kept.
    const auto storable = [](const QString& typed) {
        return AddressCheck::problem(typed.trimmed()).isEmpty()
                   ? typed
                   : SecretMask::withoutUserInfo(typed);
    };
    shownAddress = storable(shownAddress);
    for (QString& recentAddress : addresses)
        recentAddress = storable(recentAddress);
    writeGroup(file, QStringLiteral("connection"),
               {{QStringLiteral("mode"), modeNames().at(serverMode ? 1 : 0)},
                {QStringLiteral("address"), shownAddress},
                {QStringLiteral("port"), port},
                {QStringLiteral("path"), path},
                {QStringLiteral("encoding"), encoding},
                {QStringLiteral("rememberSecrets"), rememberSecrets},
                {QStringLiteral("recentAddresses"), addresses}});
    writeGroup(file, QStringLiteral("client"), clientOptions.toVariantMap(rememberSecrets));
    QList<QVariantMap> perAddress;
    for (const auto& [address, options] : addressOptions) {
        QVariantMap values = options.toVariantMap(rememberSecrets);
        values.insert(QStringLiteral("address"), address);
        perAddress.append(values);
    }
    writeArray(file, QStringLiteral("addressOptions"), perAddress);
    writeGroup(file, QStringLiteral("server"), serverOptions.toVariantMap());

    writeGroup(file, QStringLiteral("display"),
               {{QStringLiteral("hex"), hexDisplay},
                {QStringLiteral("timestamp"), showTimestamp},
                {QStringLiteral("autoScroll"), autoScroll},
                {QStringLiteral("detailPane"), detailPane},
                {QStringLiteral("lineSpacing"), lineSpacing},
                {QStringLiteral("fontSize"), fontSize}});

    writeGroup(file, QStringLiteral("send"),
               {{QStringLiteral("hex"), hexSend},
                {QStringLiteral("frame"), frameNames().at(binarySend ? 1 : 0)},
                {QStringLiteral("enterSends"), enterSends},
                {QStringLiteral("autoSendIntervalMs"), autoSendIntervalMs}});
    QList<QVariantMap> history;
    for (const SendBoxContent& content : sendHistory)
        history.append(contentValues(content));
    writeArray(file, QStringLiteral("history"), history);
    QList<QVariantMap> saved;
    for (const SavedMessage& message : savedMessages) {
        QVariantMap values = contentValues(message.content);
        values.insert(QStringLiteral("name"), message.name);
        saved.append(values);
    }
    writeArray(file, QStringLiteral("quickSend"), saved);

    writeGroup(file, QStringLiteral("chart"),
               {{QStringLiteral("enabled"), chartEnabled},
                {QStringLiteral("template"), chartTemplate},
                {QStringLiteral("type"), chartTypeNames().value(chartType)},
                {QStringLiteral("timeWindowSeconds"), timeWindowSeconds}});
    QList<QVariantMap> rules;
    for (const ChartRule& rule : chartRules) {
        rules.append({{QStringLiteral("name"), rule.name},
                      {QStringLiteral("kind"), rule.kind},
                      {QStringLiteral("expression"), rule.expression},
                      {QStringLiteral("axis"), axisNames().value(rule.axis)}});
    }
    writeArray(file, QStringLiteral("chartRules"), rules);

    writeGroup(file, QStringLiteral("window"),
               {{QStringLiteral("language"), languageNames().at(english ? 1 : 0)},
                {QStringLiteral("geometry"), geometry},
                {QStringLiteral("settingsWidth"), settingsWidth}});
}
