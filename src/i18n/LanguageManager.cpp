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
    instance().m_listeners.append(std::move(entry));
}

int LanguageManager::dictionarySize()
{
    return int(instance().m_dictionary.size());
}
