#pragma once

#include "websocket/OptionProblem.h"
#include "websocket/ServerOptions.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;

// "服务选项": edits the options of the next listen. OK keeps what is shown
// only when it can be used; a problem is named in the dialog itself.
class ServerOptionsDialog : public QDialog
{
    Q_OBJECT

public:
    using OpenFileHook =
        std::function<QString(QWidget* parent, const QString& caption, const QString& filters)>;
    // QFileDialog::getOpenFileName unless a test replaces it.
    static OpenFileHook getOpenFileName;

    explicit ServerOptionsDialog(QWidget* parent = nullptr);

    void setOptions(const ServerOptions& options);
    ServerOptions options() const;

    // One line per option in the current language; empty at the defaults.
    static QString toolTipFor(const ServerOptions& options);

    void accept() override;

private:
    // The reason the shown options cannot be used, in Chinese; an empty
    // format if none.
    OptionProblem problem() const;
    void updateAddressField();
    // A path field with its "浏览…" button, as a row of the form.
    QLineEdit* addFileRow(QFormLayout* form, const QString& caption, const QString& name);

    QComboBox* m_bind = nullptr;
    QLineEdit* m_address = nullptr;
    QCheckBox* m_restrictPath = nullptr;
    QLineEdit* m_subprotocols = nullptr;
    QLineEdit* m_certificate = nullptr;
    QLineEdit* m_privateKey = nullptr;
    QSpinBox* m_timeout = nullptr;
    QLabel* m_problem = nullptr;
    // Chosen beside the log, not here: passed through, defaults or not.
    DecodeOptions m_decode;
};
