#include "decode/DecodeProblem.h"

#include "i18n/LanguageManager.h"

#include <QStringList>

namespace {

QString filled(const QString& chinese, const QStringList& args)
{
    QString text = LanguageManager::translate(chinese);
    for (const QString& arg : args)
        text = text.arg(arg);
    return text;
}

} // namespace

QString DecodeProblem::at(const QString& decoder, qint64 offset, const QString& chinese,
                          const QStringList& args)
{
    return decoder + QStringLiteral(": ") +
           LanguageManager::translate(QStringLiteral("第 %1 字节处")).arg(offset) +
           filled(chinese, args);
}

QString DecodeProblem::plain(const QString& decoder, const QString& chinese,
                             const QStringList& args)
{
    return decoder + QStringLiteral(": ") + filled(chinese, args);
}
