#include "i18n/LanguageManager.h"

#include <QObject>

using namespace Qt::StringLiterals;

namespace {

struct Entry
{
    QString chinese;
    QString english;
};

// Keys are the exact texts the widgets show: spaces and glyphs belong to them.
QMap<QString, QString> buildDictionary()
{
    const Entry table[] = {
        {u"WebSocket调试助手"_s, u"WebSocket Debug Tool"_s},
        {u"Wirebench 通信调试工具集"_s, u"Wirebench Communication Suite"_s},
        // Auto reply
        {u"自动回复"_s, u"Auto Reply"_s},
        {u"启用自动回复"_s, u"Enable auto reply"_s},
        {u"导入…"_s, u"Import…"_s},
        {u"导出…"_s, u"Export…"_s},
        {u"添加"_s, u"Add"_s},
        {u"复制规则"_s, u"Duplicate"_s},
        {u"保存规则"_s, u"Save Rule"_s},
        {u"试一试"_s, u"Try It"_s},
        {u"匹配"_s, u"Match"_s},
        {u"任意消息"_s, u"Any message"_s},
        {u"等于"_s, u"Equals"_s},
        {u"包含"_s, u"Contains"_s},
        {u"连接时"_s, u"On connect"_s},
        {u"定时"_s, u"Timer"_s},
        {u"JSON 路径"_s, u"JSON path"_s},
        {u"任意帧"_s, u"Any frame"_s},
        {u"每秒最多"_s, u"At most per second"_s},
        {u"回复"_s, u"Reply"_s},
        {u"发送方"_s, u"Sender"_s},
        {u"全部"_s, u"All"_s},
        {u"变量"_s, u"Variables"_s},
        {u"没有规则匹配"_s, u"No rule matches"_s},
        {u"未保存: "_s, u"Not saved: "_s},
        {u"已保存"_s, u"Saved"_s},
        {u"已保存，未知变量: "_s, u"Saved; unknown variables: "_s},
        {u"导入自动回复规则"_s, u"Import Auto-Reply Rules"_s},
        {u"导出自动回复规则"_s, u"Export Auto-Reply Rules"_s},
        {u"未导入，规则不变: "_s, u"Not imported, the rules are unchanged: "_s},
        {u"无法写入: "_s, u"Cannot write: "_s},
        {u"自动回复规则 (*.json)"_s, u"Auto-reply rules (*.json)"_s},
        {u"连接"_s, u"Connect"_s},
        {u"断开"_s, u"Disconnect"_s},
        {u"监听"_s, u"Listen"_s},
        {u"发  送"_s, u"  Send  "_s},
        {u"发送"_s, u"Send"_s},
        {u"刷新"_s, u"Refresh"_s},
        {u"清空"_s, u"Clear"_s},
        {u"连接设置"_s, u"Connection"_s},
        {u"模式选择"_s, u"Mode"_s},
        {u"显示设置"_s, u"Display"_s},
        {u"发送区"_s, u"Send"_s},
        {u"数据可视化"_s, u"Data Visualization"_s},
        {u"已连接客户端"_s, u"Connected Clients"_s},
        {u"编码"_s, u"Encoding"_s},
        {u"行间距"_s, u"Line Spacing"_s},
        {u"字号"_s, u"Font Size"_s},
        {u"间隔:"_s, u"Interval:"_s},
        {u"监听端口"_s, u"Listen Port"_s},
        {u"监听路径"_s, u"Path"_s},
        {u"服务器地址"_s, u"Server URL"_s},
        {u"WebSocket 客户端"_s, u"WebSocket Client"_s},
        {u"WebSocket 服务端"_s, u"WebSocket Server"_s},
        {u"十六进制显示"_s, u"Hex Display"_s},
        {u"显示时间戳"_s, u"Show Timestamp"_s},
        {u"自动滚动"_s, u"Auto Scroll"_s},
        {u"Hex发送"_s, u"Hex Send"_s},
        {u"Enter发送"_s, u"Enter Send"_s},
        {u"自动发送"_s, u"Auto Send"_s},
        {u"通信日志"_s, u"Log"_s},
        {u"数据图表"_s, u"Chart"_s},
        {u"输入要发送的数据..."_s, u"Enter data to send..."_s},
        {u"断开选中客户端"_s, u"Disconnect Selected"_s},
        {u"🟢 已连接"_s, u"● Connected"_s},
        {u"⚫ 未连接"_s, u"○ Disconnected"_s},
        {u"启用图表"_s, u"Enable Chart"_s},
        {u"预设模板"_s, u"Preset Templates"_s},
        {u"图表类型"_s, u"Chart Type"_s},
        {u"规则名称"_s, u"Rule Name"_s},
        {u"表达式 (正则/JSON路径)"_s, u"Expression (Regex/JSON)"_s},
        {u"添加规则"_s, u"Add Rule"_s},
        {u"智能分析"_s, u"Smart Analyze"_s},
        {u"时间窗口:"_s, u"Time Window:"_s},
        {u"清除图表数据"_s, u"Clear Chart Data"_s},
        {u"时间"_s, u"Time"_s},
        {u"数值"_s, u"Value"_s},
        {u"自定义"_s, u"Custom"_s},
        {u"温度/电压 折线"_s, u"Temp/Voltage Line"_s},
        {u"JSON 多字段"_s, u"JSON Multi-Field"_s},
        {u"百分比饼图"_s, u"Percentage Pie"_s},
        {u"频率柱状图"_s, u"Frequency Bar"_s},
        {u"折线图"_s, u"Line Chart"_s},
        {u"平滑曲线"_s, u"Smooth Curve"_s},
        {u"散点图"_s, u"Scatter Plot"_s},
        {u"面积图"_s, u"Area Chart"_s},
        {u"柱状图"_s, u"Bar Chart"_s},
        {u"饼图"_s, u"Pie Chart"_s},
        {u"秒"_s, u" sec"_s},
        {u"例: temperature 或 data\\.value"_s, u"e.g. temperature or data\\.value"_s},
        {u"未发现可用数值 — 请检查数据"_s, u"No values found — check data"_s},
        {u"删除规则"_s, u"Delete Rule"_s},
        {u"规则名称已存在"_s, u"A rule of this name exists already"_s},
        {u"发现的数值都已有规则"_s, u"Every value found has a rule already"_s},
        // The chart's second value axis and its export.
        {u"左轴"_s, u"Left Axis"_s},
        {u"右轴"_s, u"Right Axis"_s},
        {u"移到左轴"_s, u"Move to Left Axis"_s},
        {u"移到右轴"_s, u"Move to Right Axis"_s},
        {u"保存为 PNG..."_s, u"Save as PNG..."_s},
        {u"导出 CSV..."_s, u"Export CSV..."_s},
        {u"保存图表"_s, u"Save Chart"_s},
        {u"导出图表数据"_s, u"Export Chart Data"_s},
        {u"PNG 图片 (*.png)"_s, u"PNG images (*.png)"_s},
        {u"CSV文件 (*.csv)"_s, u"CSV files (*.csv)"_s},
        {u"最近收到的数据中反复出现这些数值，勾选要绘制的："_s,
         u"These values recur in the data received lately; check those to plot:"_s},
        {u"%1 个值，最新 %2"_s, u"%1 values, latest %2"_s},
        {u"添加到图表"_s, u"Add to Chart"_s},
        {u"取消"_s, u"Cancel"_s},
        {u"WebSocket Client/Server · Text/Binary"_s, u"WebSocket Client/Server · Text/Binary"_s},
        {u"通信调试工具集"_s, u"Communication Debug Toolkit"_s},
        {u"记住密钥"_s, u"Remember Secrets"_s},
        {u"快捷发送"_s, u"Quick Send"_s},
        {u"保存到快捷发送"_s, u"Save to Quick Send"_s},
        {u"名称"_s, u"Name"_s},
        {u"内容"_s, u"Content"_s},
        {u"上移"_s, u"Move Up"_s},
        {u"下移"_s, u"Move Down"_s},
        {u"删除"_s, u"Delete"_s},
        {u"导入..."_s, u"Import..."_s},
        {u"导出..."_s, u"Export..."_s},
        {u"导入快捷发送"_s, u"Import Quick Send"_s},
        {u"导出快捷发送"_s, u"Export Quick Send"_s},
        {u"JSON 文件 (*.json)"_s, u"JSON files (*.json)"_s},
        {u"导入失败"_s, u"Import Failed"_s},
        {u"导出失败"_s, u"Export Failed"_s},
        {u"还没有快捷发送消息。在下方发送区输入内容后点击“保存到快捷发送”，或用“导入...”读入一个文件。"_s,
         u"No quick-send messages yet. Type one in the send box below and click “Save to Quick "
         "Send”, or read a file with “Import...”."_s},
        // Client mode's connection options, its dialog and its states.
        {u"连接选项"_s, u"Connection Options"_s},
        {u"请求头"_s, u"Request Headers"_s},
        {u"子协议"_s, u"Subprotocols"_s},
        {u"忽略证书错误"_s, u"Ignore Certificate Errors"_s},
        {u"CA 文件"_s, u"CA File"_s},
        {u"浏览…"_s, u"Browse…"_s},
        {u"握手超时 (0 = 不限)"_s, u"Handshake Timeout (0 = none)"_s},
        {u"握手超时"_s, u"Handshake Timeout"_s},
        {u"不限"_s, u"none"_s},
        {u"断线自动重连"_s, u"Reconnect Automatically"_s},
        {u"自动重连"_s, u"Auto Reconnect"_s},
        {u"心跳间隔 (0 = 关闭)"_s, u"Heartbeat (0 = off)"_s},
        {u"心跳"_s, u"Heartbeat"_s},
        {u"代理"_s, u"Proxy"_s},
        {u"无"_s, u"None"_s},
        {u"系统设置"_s, u"System Settings"_s},
        {u"代理主机"_s, u"Proxy Host"_s},
        {u"代理端口"_s, u"Proxy Port"_s},
        {u"代理用户"_s, u"Proxy User"_s},
        {u"代理密码"_s, u"Proxy Password"_s},
        {u"每行一个 Name: value，如 Authorization: Bearer …"_s,
         u"One Name: value per line, e.g. Authorization: Bearer …"_s},
        {u"按顺序，逗号分隔，如 mqtt, graphql-transport-ws"_s,
         u"In order, comma-separated, e.g. mqtt, graphql-transport-ws"_s},
        {u"留空则不发送 Origin"_s, u"Empty: no Origin header"_s},
        {u"PEM 格式，可留空"_s, u"PEM, optional"_s},
        {u"第 %1 行：缺少冒号，应为 Name: value"_s, u"Line %1: no colon, expected Name: value"_s},
        {u"第 %1 行：名称 %2 无效"_s, u"Line %1: %2 is not a valid name"_s},
        {u"第 %1 行：%2 由握手本身设置，不能覆盖"_s,
         u"Line %1: %2 is set by the handshake itself and cannot be overridden"_s},
        {u"第 %1 行：值只能含可见的 ASCII 字符"_s,
         u"Line %1: the value may hold visible ASCII characters only"_s},
        {u"第 %1 行：%2 重复"_s, u"Line %1: %2 appears twice"_s},
        {u"子协议名称 %1 无效"_s, u"%1 is not a valid subprotocol name"_s},
        {u"代理主机为空"_s, u"The proxy host is empty"_s},
        {u"代理端口为 0"_s, u"The proxy port is 0"_s},
        {u"CA 文件 %1 无法读取或不含 PEM 证书"_s,
         u"The CA file %1 cannot be read or holds no PEM certificate"_s},
        {u"◆ 连接中…"_s, u"◆ Connecting…"_s},
        {u"◆ 重连中 (%1)…"_s, u"◆ Reconnecting (%1)…"_s},
        // Server options
        {u"服务选项"_s, u"Server Options"_s},
        {u"监听地址"_s, u"Listen Address"_s},
        {u"所有接口"_s, u"All interfaces"_s},
        {u"指定地址"_s, u"Specific address"_s},
        {u"例: 192.168.1.10"_s, u"e.g. 192.168.1.10"_s},
        {u"路径"_s, u"Path"_s},
        {u"只接受监听路径"_s, u"Only the listen path"_s},
        {u"接受任何路径"_s, u"Any path"_s},
        {u"例: mqtt, graphql-transport-ws"_s, u"e.g. mqtt, graphql-transport-ws"_s},
        {u"证书文件 (PEM)"_s, u"Certificate (PEM)"_s},
        {u"私钥文件 (PEM)"_s, u"Private key (PEM)"_s},
        {u"证书文件"_s, u"Certificate"_s},
        {u"私钥文件"_s, u"Private key"_s},
        {u"留空: 普通 ws"_s, u"Empty: plain ws"_s},
        {u"恢复默认"_s, u"Defaults"_s},
        {u"确定"_s, u"OK"_s},
        {u"监听地址无效"_s, u"Invalid listen address"_s},
        {u"子协议名称含有无效字符"_s, u"A subprotocol name has invalid characters"_s},
        {u"证书文件和私钥文件须同时填写"_s, u"Certificate and private key go together"_s},
        {u"无法读取证书文件 %1: %2"_s, u"Cannot read the certificate %1: %2"_s},
        {u"无法读取私钥文件 %1: %2"_s, u"Cannot read the private key %1: %2"_s},
        {u"证书文件 %1 不是 PEM 证书"_s, u"The certificate %1 is no PEM certificate"_s},
        {u"私钥文件 %1 不是未加密的 PEM 私钥"_s, u"The private key %1 is no unencrypted PEM key"_s},
        {u"本机不支持 TLS"_s, u"TLS is not available on this machine"_s},
        // The log's find bar and entry details.
        {u"查找内容或正则表达式"_s, u"Text or regular expression"_s},
        {u"正则"_s, u"Regex"_s},
        {u"区分大小写"_s, u"Match case"_s},
        {u"上一个"_s, u"Previous"_s},
        {u"下一个"_s, u"Next"_s},
        {u"只显示匹配"_s, u"Matches only"_s},
        {u"表达式无效"_s, u"Invalid expression"_s},
        {u"无匹配"_s, u"No match"_s},
        {u"方向"_s, u"Direction"_s},
        {u"对端"_s, u"Peer"_s},
        {u"帧类型"_s, u"Frame"_s},
        {u"大小"_s, u"Size"_s},
        {u"复制信息"_s, u"Copy Details"_s},
        {u"文本"_s, u"Text"_s},
        {u"十六进制"_s, u"Hex"_s},
        {u"复制文本"_s, u"Copy Text"_s},
        {u"复制十六进制"_s, u"Copy Hex"_s},
        {u"复制 JSON"_s, u"Copy JSON"_s},
        {u"显示全部"_s, u"Show All"_s},
        {u"缩进后的文本过大，这里按原样显示。"_s,
         u"Indented, the text would be too large; it is shown here as it came."_s},
        {u"只显示了开头，共 %1"_s, u"Showing the beginning of %1"_s},
        {u"%1 字节"_s, u"%1 bytes"_s},
        {u"%1 字符"_s, u"%1 characters"_s},
        {u"文本帧"_s, u"Text frame"_s},
        {u"二进制帧"_s, u"Binary frame"_s},
        {u"系统消息"_s, u"System message"_s},
        {u"日志已不再保存这一行的条目，这里只有该行显示的文字。"_s,
         u"The log no longer keeps this row's entry; shown here is only the row's text."_s},
        {u"客户端"_s, u"Client"_s},
        {u"全部"_s, u"All"_s},
        {u"详情"_s, u"Details"_s},
        // The log bar and the session row.
        {u"重置计数"_s, u"Reset"_s},
        {u"清除日志"_s, u"Clear Log"_s},
        {u"导出"_s, u"Export"_s},
        {u"保存会话…"_s, u"Save…"_s},
        {u"打开会话…"_s, u"Open…"_s},
        {u"未打开会话"_s, u"No session"_s},
        {u"回放"_s, u"Replay"_s},
        {u"等待回复"_s, u"Lock-step"_s},
        {u"比较回复"_s, u"Compare"_s},
        {u"暂停"_s, u"Pause"_s},
        {u"继续"_s, u"Resume"_s},
        {u"停止"_s, u"Stop"_s},
        {u"作为模拟服务器"_s, u"Mock"_s},
        {u"发送文件…"_s, u"Send File…"_s},
        {u"复制数据"_s, u"Copy Data"_s},
        {u"重新发送"_s, u"Send Again"_s},
        {u"保存为文件…"_s, u"Save as File…"_s},
        {u"保存失败"_s, u"Save Failed"_s},
        {u"发送到此客户端"_s, u"Send to This Client"_s},
        {u"断开此客户端"_s, u"Disconnect This Client"_s},
        // Socket.IO: its options, the send area's event field, its problems.
        {u"协议"_s, u"Protocol"_s},
        {u"Engine.IO 3 (Socket.IO 2 服务器)"_s, u"Engine.IO 3 (Socket.IO 2 servers)"_s},
        {u"命名空间"_s, u"Namespace"_s},
        {u"认证 JSON"_s, u"Auth JSON"_s},
        {u"认证数据"_s, u"Auth"_s},
        {u"可留空，如 {\"token\":\"…\"}"_s, u"Optional, e.g. {\"token\":\"…\"}"_s},
        {u"事件"_s, u"Event"_s},
        {u"事件名称，如 chat"_s, u"Event name, e.g. chat"_s},
        {u"需要确认"_s, u"Ask for Ack"_s},
        {u"复制"_s, u"Copy"_s},
        {u"复制全部"_s, u"Copy All"_s},
        {u"回放 %v / %m"_s, u"Replay %v / %m"_s},
        {u"Socket.IO 路径必须以 / 开头"_s, u"The Socket.IO path must start with /"_s},
        {u"命名空间 %1 无效，应以 / 开头且不含逗号"_s,
         u"Namespace %1 is invalid: it starts with / and has no comma"_s},
        {u"认证数据不是 JSON 对象"_s, u"The auth is not a JSON object"_s},
        {u"解码"_s, u"Decode"_s},
        {u"二进制解码"_s, u"Binary decoding"_s},
        {u"选择 .proto…"_s, u"Choose .proto…"_s},
        {u"选择 .proto 文件"_s, u"Choose a .proto file"_s},
        {u"发送编码"_s, u"Send encoding"_s},
        {u"原样"_s, u"As is"_s},
        {u"自动选择：%1"_s, u"Auto chose: %1"_s},
        {u"解码：%1"_s, u"Decoded: %1"_s},
        {u"（部分值 JSON 无法表示，按原格式显示）"_s,
         u"(some values JSON cannot hold: shown in the format's own notation)"_s},
        {u"无法读取 .proto：%1"_s, u"Cannot read the .proto: %1"_s},
        {u"第 %1 字节处"_s, u"at byte %1: "_s},
        {u"长度 %1 超出帧长度"_s, u"length %1 runs past the end of the frame"_s},
        {u"之后还有 %1 字节不属于这个值"_s, u"%1 more bytes follow the value"_s},
        {u"嵌套超过 %1 层"_s, u"nesting deeper than %1 levels"_s},
        {u"值的个数超过 %1"_s, u"more than %1 values"_s},
        {u"映射的键缺少值"_s, u"a map key lacks its value"_s},
        {u"标签 %1 无效"_s, u"invalid tag %1"_s},
        {u"不是 CBOR 数据"_s, u"not CBOR"_s},
        {u"帧是空的"_s, u"the frame is empty"_s},
        {u"字符串不是有效的 UTF-8"_s, u"a string is not valid UTF-8"_s},
        {u"时间戳扩展的长度 %1 无效"_s, u"timestamp extension of invalid length %1"_s},
        {u"时间戳的纳秒 %1 超出范围"_s, u"timestamp nanoseconds %1 out of range"_s},
        {u"类型字节 0x%1 无效"_s, u"invalid type byte 0x%1"_s},
        {u"字段号 %1 无效"_s, u"invalid field number %1"_s},
        {u"字段 %1 的线路类型 %2 无效"_s, u"field %1 has invalid wire type %2"_s},
        {u"变长整数在帧末尾被截断"_s, u"a varint is cut off by the end of the frame"_s},
        {u"变长整数超过 64 位"_s, u"a varint longer than 64 bits"_s},
        {u"解压后超过 %1 MiB，已停止"_s, u"stopped: inflates past %1 MiB"_s},
        {u"压缩比超过 %1:1，疑似压缩炸弹，已停止"_s,
         u"stopped: inflates more than %1:1, a likely zip bomb"_s},
        {u"压缩数据在帧末尾被截断"_s, u"the compressed data is cut off by the end of the frame"_s},
        {u"压缩数据之后还有多余的字节"_s, u"bytes follow the end of the compressed data"_s},
        {u"压缩数据已损坏"_s, u"the compressed data is corrupt"_s},
        {u"文本帧不是 Base64，不解码"_s, u"a text frame that is not Base64 is not decoded"_s},
        {u"尚未选择 .proto 文件和消息类型"_s, u"no .proto file and message type chosen yet"_s},
        {u"没有解码器能读出这一帧"_s, u"no decoder reads this frame"_s},
        {u"发送框的内容不是一个 JSON 值（第 %1 字符：%2）"_s,
         u"the send box holds no single JSON value (character %1: %2)"_s},
        {u"消息须是一个 JSON 对象"_s, u"a message must be a JSON object"_s},
        {u"未选择编码"_s, u"no encoding chosen"_s},
    };
    QMap<QString, QString> map;
    for (const Entry& entry : table)
        map.insert(entry.chinese, entry.english);
    return map;
}

} // namespace

LanguageManager::LanguageManager()
    : m_dictionary(buildDictionary())
{}

LanguageManager& LanguageManager::instance()
{
    // A function-local static is created once even when first calls race.
    static LanguageManager manager;
    return manager;
}

bool LanguageManager::isEnglish()
{
    return instance().m_language == 1;
}

QString LanguageManager::translate(const QString& text)
{
    const LanguageManager& self = instance();
    if (self.m_language == 0)
        return text;
    const auto it = self.m_dictionary.constFind(text);
    return it == self.m_dictionary.constEnd() ? text : it.value();
}

void LanguageManager::setEnglish(bool english)
{
    LanguageManager& self = instance();
    const int language = english ? 1 : 0;
    if (language == self.m_language)
        return;
    self.m_language = language;
    // A copy: a listener may register further listeners while we iterate.
    const QVector<Listener> listeners = self.m_listeners;
    for (const Listener& listener : listeners) {
        if (listener.hasContext && listener.context.isNull())
            continue;
        if (listener.callback)
            listener.callback();
    }
}

void LanguageManager::addListener(QObject* context, std::function<void()> listener)
{
    Listener entry;
    entry.context = context;
    entry.hasContext = context != nullptr;
    entry.callback = std::move(listener);
    // Listeners of destroyed contexts go, or every dialog opened adds one for good.
    QVector<Listener>& listeners = instance().m_listeners;
    listeners.removeIf([](const Listener& l) { return l.hasContext && l.context.isNull(); });
    listeners.append(std::move(entry));
}

int LanguageManager::listenerCount()
{
    return int(instance().m_listeners.size());
}

int LanguageManager::dictionarySize()
{
    return int(instance().m_dictionary.size());
}
