#include "websocket/EventFormatter.h"

#include <QStringList>

namespace {

using Code = ConnectionEvent::Code;

// "1009" or "1009，原因: <reason>".
QString closeText(const ConnectionEvent& event)
{
    QString text = QString::number(event.closeCode);
    if (!event.detail.isEmpty())
        text += QStringLiteral("，原因: ") + event.detail;
    return text;
}

// A client option without a value is named alone; a server option always
// has its value, after a space.
QString joined(const ConnectionEvent& event, const QString& between)
{
    QStringList parts;
    for (const auto& [label, value] : event.items)
        parts.append(value.isEmpty() && between != QLatin1String(" ") ? label
                                                                      : label + between + value);
    return parts.join(QStringLiteral("；"));
}

} // namespace

QString EventFormatter::sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024)
        return QString::number(bytes / (1024.0 * 1024.0), 'f', 1).remove(QStringLiteral(".0")) +
               QStringLiteral(" MiB");
    if (bytes >= 1024)
        return QString::number(bytes / 1024.0, 'f', 1).remove(QStringLiteral(".0")) +
               QStringLiteral(" KiB");
    return QString::number(bytes) + QStringLiteral(" B");
}

QString EventFormatter::roundTripText(qint64 microseconds)
{
    // Three significant digits at most, and never "0 ms".
    const double ms = double(microseconds) / 1000.0;
    const int decimals = ms < 10 ? 2 : ms < 100 ? 1 : 0;
    return QString::number(ms, 'f', decimals) + QStringLiteral(" ms");
}

QString EventFormatter::text(const ConnectionEvent& e)
{
    switch (e.code) {
    case Code::AddressEmpty:
        return QStringLiteral("地址为空");
    case Code::AddressHasSpace:
        return QStringLiteral("地址中不能含有空格");
    case Code::AddressBadScheme:
        return QStringLiteral("地址必须以 ws:// 或 wss:// 开头");
    case Code::AddressIpv6Unclosed:
        return QStringLiteral("主机名无效: IPv6 地址缺少 ]");
    case Code::AddressAfterIpv6:
        return QStringLiteral("主机名无效: ] 之后只能是 :端口");
    case Code::AddressNoHost:
        return QStringLiteral("地址缺少主机名");
    case Code::AddressBadPort:
        return e.detail.isEmpty()
                   ? QStringLiteral("端口无效，应为 1 到 65535 之间的数字")
                   : QStringLiteral("端口 %1 无效，应为 1 到 65535 之间的数字").arg(e.detail);
    case Code::AddressBadHost:
        return QStringLiteral("主机名无效");
    case Code::AddressBadUserInfo:
        return QStringLiteral("用户名或密码无效: 含有不允许的字符或错误的 % 编码");
    case Code::AddressBadPath:
        return QStringLiteral("路径无效: 含有不允许的字符或错误的 % 编码");
    case Code::AddressBadQuery:
        return QStringLiteral("查询参数无效: 含有不允许的字符或错误的 % 编码");
    case Code::AddressBadFragment:
        return QStringLiteral("片段无效: 含有不允许的字符或错误的 % 编码");
    case Code::AddressInvalid:
        return QStringLiteral("地址无效");
    case Code::OptionsRefused:
        return QStringLiteral("连接选项有误: ") + e.detail;
    case Code::Connecting:
        return QStringLiteral("正在连接 %1...").arg(e.peer);
    case Code::Reconnecting:
        return QStringLiteral("第 %1 次重连：正在连接 %2...").arg(e.attempt).arg(e.peer);
    case Code::OptionsInUse:
        return QStringLiteral("连接选项: ") + joined(e, QStringLiteral(": "));
    case Code::HeaderNotKept:
        return QStringLiteral("请求头 %1 的值未保存，未发送；请在连接选项中重新填写").arg(e.detail);
    case Code::SystemProxyNone:
        return QStringLiteral("系统代理: 不使用代理");
    case Code::SystemProxy:
        return QStringLiteral("系统代理: %1 %2:%3").arg(e.detail, e.peer).arg(e.number);
    case Code::SystemProxyUnusable:
        return QStringLiteral(
                   "系统代理 %1 无法使用（仅支持 http:// 与 socks5:// 代理），已放弃连接")
            .arg(e.peer);
    case Code::Connected:
        return QStringLiteral("WebSocket已连接");
    case Code::NoSubprotocol:
        return QStringLiteral("服务器未选择子协议");
    case Code::Subprotocol:
        return QStringLiteral("子协议: ") + e.detail;
    case Code::Disconnected:
        return QStringLiteral("WebSocket已断开");
    case Code::ClosedWith:
        return QStringLiteral("关闭代码 ") + closeText(e);
    case Code::ConnectionError:
        return QStringLiteral("连接错误: ") + e.detail;
    case Code::UpgradeRefused:
        return QStringLiteral("服务器拒绝升级: HTTP ") + QString::number(e.number) +
               (e.detail.isEmpty() ? QString() : QLatin1Char(' ') + e.detail);
    case Code::CertificateError:
        return QStringLiteral("证书错误: ") + e.detail;
    case Code::CertificateIgnored:
        return QStringLiteral("已忽略证书错误: ") + e.detail;
    case Code::SocketIoConnected:
        return e.detail.isEmpty()
                   ? QStringLiteral("Socket.IO 已连接 命名空间 %1").arg(e.peer)
                   : QStringLiteral("Socket.IO 已连接 命名空间 %1，sid %2").arg(e.peer, e.detail);
    case Code::SocketIoRefused:
        return QStringLiteral("Socket.IO 命名空间 %1 拒绝连接：%2").arg(e.peer, e.detail);
    case Code::SocketIoNamespaceClosed:
        return QStringLiteral("Socket.IO 服务器断开了命名空间 %1").arg(e.peer);
    case Code::SocketIoAck:
        return QStringLiteral("确认 #%1，%2 ms").arg(e.number).arg(e.attempt);
    case Code::SocketIoPingTimeout:
        return QStringLiteral("Socket.IO 心跳超时：%1 ms 内未收到心跳，已断开连接").arg(e.number);
    case Code::SocketIoUnreadable:
        return QStringLiteral("Socket.IO：收到的帧不是有效的数据包 (%1)").arg(e.detail);
    case Code::Pong:
        return QStringLiteral("Pong ") + roundTripText(e.number);
    case Code::HandshakeTimeout:
        return QStringLiteral("握手超时：%1 秒内未完成，已放弃连接").arg(e.number);
    case Code::HeartbeatTimeout:
        return QStringLiteral("心跳超时：%1 秒内未收到 Pong，已断开连接").arg(e.number);
    case Code::RetryScheduled:
        return QStringLiteral("%1 秒后第 %2 次重连")
            .arg(QString::number(e.number / 1000.0))
            .arg(e.attempt);
    case Code::RetryStoppedByClose:
        return QStringLiteral("已停止自动重连：关闭代码 %1，重连无法解决").arg(e.closeCode);
    case Code::RetryStoppedByRefusal:
        return QStringLiteral("已停止自动重连：服务器以 HTTP %1 拒绝升级，重连无法解决")
            .arg(e.number);
    case Code::RetryStoppedByAddress:
        return QStringLiteral("地址已更改，停止重连");
    case Code::AttemptCancelled:
        return QStringLiteral("已取消连接");
    case Code::Closed:
        return QStringLiteral("已断开");
    case Code::PeerStalled:
        return QStringLiteral("对方未读取数据，已暂停向 %1 发送（待发送 %2）")
            .arg(e.peer, sizeText(e.number));
    case Code::PeerResumed:
        return QStringLiteral("%1 已恢复接收").arg(e.peer);
    case Code::ListenBadAddress:
        return QStringLiteral("监听失败: 监听地址无效: %1").arg(e.detail);
    case Code::ListenTlsFilesMissing:
        return QStringLiteral("监听失败: wss 需要证书文件和私钥文件两者");
    case Code::ListenNoTls:
        return QStringLiteral("监听失败: 本机不支持 TLS");
    case Code::ListenUnreadable:
        return QStringLiteral("监听失败: 无法读取%1 %2: %3")
            .arg(e.number == 0 ? QStringLiteral("证书文件") : QStringLiteral("私钥文件"), e.peer,
                 e.detail);
    case Code::ListenNotCertificate:
        return QStringLiteral("监听失败: 证书文件 %1 不是 PEM 证书").arg(e.peer);
    case Code::ListenNotKey:
        return QStringLiteral("监听失败: 私钥文件 %1 不是未加密的 PEM 私钥").arg(e.peer);
    case Code::ListenFailed:
        return QStringLiteral("监听失败: ") + e.detail;
    case Code::Listening:
        return QStringLiteral("WebSocket服务器已启动，端口 %1，路径 %2")
            .arg(QString::number(e.number), e.detail);
    case Code::ListeningTls:
        return QStringLiteral("WebSocket服务器已启动，wss 端口 %1，路径 %2")
            .arg(QString::number(e.number), e.detail);
    case Code::ServerOptionsInUse:
        return QStringLiteral("服务选项: ") + joined(e, QStringLiteral(" "));
    case Code::ClientJoined:
        return e.detail.isEmpty()
                   ? QStringLiteral("客户端连接 %1").arg(e.peer)
                   : QStringLiteral("客户端连接 %1，子协议: %2").arg(e.peer, e.detail);
    case Code::ClientLeft:
        return QStringLiteral("客户端断开: %1").arg(e.peer);
    case Code::ClientClosedWith:
        return QStringLiteral("客户端 %1 关闭代码 %2").arg(e.peer, closeText(e));
    case Code::ClientPathRefused:
        return QStringLiteral("客户端 %1 请求的路径 %2 不是监听路径，已以关闭代码 1008 拒绝")
            .arg(e.peer, e.detail);
    case Code::ClientLimitReached:
        return QStringLiteral("客户端数已达上限 %1，新的客户端以关闭代码 1013 拒绝").arg(e.number);
    case Code::ClientHandshakeTimeout:
        return QStringLiteral("客户端 %1 未在 %2 秒内完成握手，已断开")
            .arg(e.peer)
            .arg(e.number / 1000.0);
    case Code::ClientTlsFailed:
        return QStringLiteral("客户端 %1 TLS 握手失败: %2").arg(e.peer, e.detail);
    case Code::AcceptFailed:
        return QStringLiteral("接受连接失败: %1；暂停接受新连接，描述符释放后或 %2 秒后重试")
            .arg(e.detail)
            .arg(e.number);
    case Code::AcceptResumed:
        return QStringLiteral("已恢复接受新连接");
    }
    return QString();
}
