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
    using SaveFileNameHook =
        std::function<QString(QWidget* parent, const QString& caption, const QString& initialPath,
                              const QString& filters)>;
    using OpenFileNameHook = SaveFileNameHook;
    using WarningHook =
        std::function<void(QWidget* parent, const QString& title, const QString& text)>;

    // Default to QFileDialog::getSaveFileName, QFileDialog::getOpenFileName
    // and QMessageBox::warning.
    static SaveFileNameHook getSaveFileName;
    static OpenFileNameHook getOpenFileName;
    static WarningHook warning;

    static void restoreDefaults();

    ExportDialogs() = delete;
};
