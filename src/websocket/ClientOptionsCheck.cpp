#include "websocket/ClientOptionsCheck.h"

#include <QSslCertificate>

QList<OptionProblem> ClientOptionsCheck::problems(const ClientOptions& options)
{
    QList<OptionProblem> found = options.ownProblems();
    if (!options.caFile.isEmpty() && QSslCertificate::fromPath(options.caFile, QSsl::Pem).isEmpty())
        found.append({QStringLiteral("CA 文件 %1 无法读取或不含 PEM 证书"), {options.caFile}});
    return found;
}
