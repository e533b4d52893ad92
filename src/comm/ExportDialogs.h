#pragma once

#include <QString>

#include <functional>

class QWidget;

// The modal file dialogs and warnings (log export, quick-send import and
// export), reachable through replaceable hooks so that tests can answer them
// without blocking.
class ExportDialogs
{
public:
    // Returns the chosen path (empty when cancelled) and stores the name
    // filter the user chose in `selectedFilter`.
    using SaveFileNameHook =
        std::function<QString(QWidget* parent, const QString& caption, const QString& initialPath,
                              const QString& filters, QString* selectedFilter)>;
    using OpenFileNameHook =
        std::function<QString(QWidget* parent, const QString& caption, const QString& initialPath,
                              const QString& filters)>;
    using WarningHook =
        std::function<void(QWidget* parent, const QString& title, const QString& text)>;

    // Default to a save-file QFileDialog, QFileDialog::getOpenFileName and
    // QMessageBox::warning.
    static SaveFileNameHook getSaveFileName;
    static OpenFileNameHook getOpenFileName;
    static WarningHook warning;

    static void restoreDefaults();

    // The extension a name filter such as "CSV文件 (*.csv)" stands for ("csv");
    // empty when it names none.
    static QString filterSuffix(const QString& filter);

    ExportDialogs() = delete;
};
