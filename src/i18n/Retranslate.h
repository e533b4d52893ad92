#pragma once

#include <QString>

class QAbstractButton;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QWidget;

// Translates every walked text of the tree below `root` (and the root's window
// title) into the active language, saving the Chinese texts in dynamic properties
// on the way to English and restoring them on the way back.
void retranslateWidgetTree(QWidget* root);

// The header's "中文"/"English" combo box; choosing an item switches the language.
QComboBox* createLanguageSelector(QWidget* parent);

// For texts set while the program runs: keep the saved Chinese text current so
// the next switch back to Chinese does not restore an outdated one.
void setRuntimeText(QAbstractButton* button, const QString& chinese);
// The status label has its own English forms, so the shown text is the caller's.
void setRuntimeText(QLabel* label, const QString& chinese, const QString& shown);
void setRuntimePlaceholder(QPlainTextEdit* edit, const QString& chinese);
