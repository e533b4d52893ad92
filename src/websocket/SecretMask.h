#pragma once

#include <QString>
#include <QStringView>

// Hides secrets wherever connection details are shown: the log, tooltips,
// exports and settings. What is hidden reads "•••"; everything else is kept
// exactly as typed.
class SecretMask
{
public:
    static QString mask() { return QStringLiteral("•••"); }

    // A query parameter or header named like a credential: Authorization,
    // Cookie, X-Api-Key, access_token, password, secret, session...
    static bool isSecretName(QStringView name);

    // An address with the credentials before "@" and secret query values hidden.
    static QString address(const QString& address);
    // "Name: value" lines with the values of secret headers hidden.
    static QString headers(const QString& lines);
    // Every occurrence of `address` in `text` in its masked form.
    static QString inText(const QString& text, const QString& address);

    SecretMask() = delete;
};
