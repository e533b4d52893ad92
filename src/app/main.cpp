#include "app/CommandLine.h"
#include "app/RunLog.h"
#include "app/SettingsStore.h"
#include "app/StartUp.h"
#include "i18n/QtTranslations.h"
#include "websocket/WebSocketWidget.h"

#include <QApplication>

namespace {

int runWindow(int& argc, char** argv)
{
    // The window's server holds a descriptor per client.
    StartUp::raiseFileLimit();
    QApplication app(argc, argv);
    // Before the application name is set, so the log lives under the
    // executable's name.
    RunLog::open(QStringLiteral("Sockwise"));
    StartUp::setIdentity();
    // Before the window exists, so it is built already styled.
    StartUp::applyStyleSheet(StartUp::resourceStyleSheetPath(), StartUp::fallbackStyleSheetPath());
    // Qt's own dialog texts in the interface language, for the window's whole life.
    QtTranslations qtTranslations;

    WebSocketWidget window;
    // After the identity, which names the configuration directory.
    window.useSettingsFile(SettingsStore::defaultFilePath());
    StartUp::showMainWindow(window);
    return app.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    return CommandLine::run(argc, argv, runWindow);
}
