#pragma once

#include <QString>

class QWidget;

// The steps of program start that main() strings together, kept apart so
// they can be exercised without starting the program.
class StartUp
{
public:
    // Raises the soft limit on open descriptors to the hard one, as servers
    // do: in server mode every client holds one, and the usual soft limit of
    // 1024 runs out long before memory does. Returns the soft limit in force
    // afterwards, -1 when it cannot be read.
    static qint64 raiseFileLimit();

    static QString resourceStyleSheetPath();
    // "DarkTheme.qss" beside the executable; needs the application object.
    static QString fallbackStyleSheetPath();

    // Application name and version; after the run log is open, since that
    // takes its location from the executable's name.
    static void setIdentity();

    // Applies the style sheet at resourcePath to the whole application, or
    // the one at fallbackPath when the resource does not exist. Logs
    // "DarkTheme QSS loaded" and returns true when a sheet was applied.
    static bool applyStyleSheet(const QString& resourcePath, const QString& fallbackPath);

    // Title, icon, show, and the "Window shown" milestone.
    static void showMainWindow(QWidget& window);
};
