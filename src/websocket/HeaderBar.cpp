#include "websocket/HeaderBar.h"

#include "banner/AdBanner.h"
#include "i18n/Retranslate.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

HeaderBar::HeaderBar(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("headerBar"));
    setFixedHeight(52);
    auto* headerLayout = new QHBoxLayout(this);
    headerLayout->setContentsMargins(20, 0, 20, 0);

    auto* icon = new QLabel(QStringLiteral("◆"), this);
    icon->setObjectName(QStringLiteral("headerIcon"));
    headerLayout->addWidget(icon);
    auto* title = new QLabel(QStringLiteral("WebSocket调试助手"), this);
    title->setObjectName(QStringLiteral("headerTitle"));
    headerLayout->addWidget(title);
    auto* version = new QLabel(QStringLiteral("v1.0"), this);
    version->setObjectName(QStringLiteral("headerVersion"));
    headerLayout->addWidget(version);
    headerLayout->addStretch(1);
    headerLayout->addWidget(new AdBanner(QStringLiteral("sockwise"), this), 2);
    headerLayout->addStretch(1);

    m_languageCombo = createLanguageSelector(this);
    m_languageCombo->setObjectName(QStringLiteral("languageCombo"));
    headerLayout->addWidget(m_languageCombo);

    auto* docButton = new QPushButton(QStringLiteral("📖 文档"), this);
    docButton->setObjectName(QStringLiteral("docButton"));
    docButton->setCursor(Qt::PointingHandCursor);
    docButton->setFixedHeight(24);
    docButton->setStyleSheet(QStringLiteral(
        "QPushButton { background: transparent; color: #94A3B8; border: 1px solid #2A3A4A; "
        "border-radius: 3px; padding: 2px 8px; font-size: 11px; } QPushButton:hover { "
        "border-color: #60A5FA; color: #00D4FF; }"));
    connect(docButton, &QPushButton::clicked, this, &HeaderBar::openDocumentation);
    headerLayout->addWidget(docButton);

    auto* status = new QLabel(QStringLiteral("◆未连接"), this);
    status->setObjectName(QStringLiteral("connStatus"));
    headerLayout->addWidget(status);
}

void HeaderBar::openDocumentation()
{
    QUrl page = AdBanner::vendorBaseUrl();
    page.setPath(QStringLiteral("/docs/gaugely/sockwise"));
    // Without a browser the click would do nothing at all.
    if (!QDesktopServices::openUrl(page))
        emit notice(QStringLiteral("无法启动浏览器，请手动打开文档: %1").arg(page.toString()));
}
