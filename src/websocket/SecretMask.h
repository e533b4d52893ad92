#pragma once

#include <QString>
#include <QStringView>

// The one secret policy: what is named like a credential is hidden wherever
// connection details are shown (the log, tooltips, exports: "•••") and left
// out of the settings file unless the user asks to remember secrets.
// Addresses are read by their characters, so one that QUrl refuses is
// treated the same; everything that is not a secret is kept as typed.
class SecretMask
{
public:
    static QString mask() { return QStringLiteral("•••"); }

    // A query parameter or header named like a credential: Authorization,
    // Cookie, X-Api-Key, access_token, password, secret, session...
    static bool isSecretName(QStringView name);

    // An address with the credentials before "@" and secret query values hidden.
    static QString address(const QString& address);
    // The address without the user info before "@" and without secret query
    // items; a query left empty loses its "?".
    static QString withoutSecrets(const QString& address);
    // The address without everything between "://" and the last "@" ahead of
    // the query: for an address that does not parse, where a "/" in a
    // password may end the authority early.
    static QString withoutUserInfo(const QString& address);
    // "Name: value" lines with the values of secret headers hidden.
    static QString headers(const QString& lines);
    // The lines with secret headers as "Name:", their values left out.
    static QString headersWithoutSecrets(const QString& lines);
    // Every occurrence of `address` in `text` in its masked form.
    static QString inText(const QString& text, const QString& address);

    SecretMask() = delete;
};
