#include "chart/ChartExporter.h"

#include "chart/ChartCsv.h"
#include "comm/ExportDialogs.h"
#include "i18n/LanguageManager.h"

#include <QAction>
#include <QChartView>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QSaveFile>

namespace {

// A page the user never opened has no size of its own yet.
const QSize fallbackSize(1000, 600);

// Only a regular file is written: opening a FIFO waits for a reader.
bool writeFile(const QString& path, const std::function<bool(QSaveFile&)>& write)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return false;
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || !write(file)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

ChartExporter::ChartExporter(QChartView* view, SeriesSource series, QWidget* parent)
    : QObject(parent)
    , m_parent(parent)
    , m_view(view)
    , m_series(std::move(series))
{
    m_savePng = new QAction(QStringLiteral("保存为 PNG..."), this);
    m_savePng->setObjectName(QStringLiteral("saveChartPngAction"));
    m_exportCsv = new QAction(QStringLiteral("导出 CSV..."), this);
    m_exportCsv->setObjectName(QStringLiteral("exportChartCsvAction"));
    connect(m_savePng, &QAction::triggered, this, &ChartExporter::savePng);
    connect(m_exportCsv, &QAction::triggered, this, &ChartExporter::exportCsv);
    LanguageManager::addListener(this, [this] {
        m_savePng->setText(LanguageManager::translate(QStringLiteral("保存为 PNG...")));
        m_exportCsv->setText(LanguageManager::translate(QStringLiteral("导出 CSV...")));
    });
}

QString ChartExporter::askPath(const QString& caption, const QString& prefix, const QString& filter,
                               const QString& suffix) const
{
    const QString name =
        prefix + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    QString path =
        ExportDialogs::getSaveFileName(m_parent, LanguageManager::translate(caption), name,
                                       LanguageManager::translate(filter), nullptr);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + suffix;
    return path;
}

void ChartExporter::fail(const QString& path) const
{
    ExportDialogs::warning(m_parent, LanguageManager::translate(QStringLiteral("导出失败")),
                           QStringLiteral("无法写入文件: ") + path);
}

void ChartExporter::savePng()
{
    if (!m_view)
        return;
    const QString path = askPath(QStringLiteral("保存图表"), QStringLiteral("Chart_"),
                                 QStringLiteral("PNG 图片 (*.png)"), QStringLiteral("png"));
    if (path.isEmpty())
        return;
    // A tab page not shown yet is drawn at the size it will have.
    if (!m_view->isVisible()) {
        const QWidget* page = m_view->parentWidget();
        const QSize size =
            page && page->width() > 200 && page->height() > 150 ? page->size() : fallbackSize;
        m_view->resize(size);
    }
    const QImage picture = m_view->grab().toImage();
    if (!writeFile(path, [&picture](QSaveFile& file) { return picture.save(&file, "PNG"); })) {
        fail(path);
        return;
    }
    emit notice(QStringLiteral("图表已保存为图片: %1").arg(path));
}

void ChartExporter::exportCsv()
{
    const QString path = askPath(QStringLiteral("导出图表数据"), QStringLiteral("Chart_"),
                                 QStringLiteral("CSV文件 (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    const QByteArray csv = ChartCsv::toCsv(m_series ? m_series() : QList<const SeriesPoints*>());
    if (!writeFile(path, [&csv](QSaveFile& file) { return file.write(csv) == csv.size(); })) {
        fail(path);
        return;
    }
    emit notice(QStringLiteral("图表数据已导出: %1").arg(path));
}
