#include "comm/ExportDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

QString askSaveFileName(QWidget* parent, const QString& caption, const QString& initialPath,
                        const QString& filters)
{
    return QFileDialog::getSaveFileName(parent, caption, initialPath, filters);
}

QString askOpenFileName(QWidget* parent, const QString& caption, const QString& initialPath,
                        const QString& filters)
{
    return QFileDialog::getOpenFileName(parent, caption, initialPath, filters);
}

void showWarning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

} // namespace

ExportDialogs::SaveFileNameHook ExportDialogs::getSaveFileName = askSaveFileName;
ExportDialogs::OpenFileNameHook ExportDialogs::getOpenFileName = askOpenFileName;
ExportDialogs::WarningHook ExportDialogs::warning = showWarning;

void ExportDialogs::restoreDefaults()
{
    getSaveFileName = askSaveFileName;
    getOpenFileName = askOpenFileName;
    warning = showWarning;
}
