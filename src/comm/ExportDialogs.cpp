#include "comm/ExportDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace {

QString askSaveFileName(QWidget* parent, const QString& caption, const QString& initialPath,
                        const QString& filters, QString* selectedFilter)
{
    QFileDialog dialog(parent, caption, initialPath, filters);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The dialog adds the chosen filter's extension to a name without one
    // before it asks whether to replace an existing file, so it asks about
    // the file that is actually written.
    const auto followFilter = [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(ExportDialogs::filterSuffix(filter));
    };
    followFilter(dialog.selectedNameFilter());
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, followFilter);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    if (selectedFilter)
        *selectedFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().value(0);
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

QString ExportDialogs::filterSuffix(const QString& filter)
{
    static const QRegularExpression pattern(QStringLiteral(R"(\*\.(\w+))"));
    return pattern.match(filter).captured(1);
}
