#include "i18n/Retranslate.h"

#include "i18n/LanguageManager.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVariant>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Depth first, each parent before its children, in the toolkit's child order.
void collectWidgets(const QObject* parent, QList<QWidget*>& out)
{
    for (QObject* child : parent->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child))
            out.append(widget);
        collectWidgets(child, out);
    }
}

// An absent property and one holding an empty text both count as unset.
QString savedText(const QObject* object, const char* name)
{
    return object->property(name).toString();
}

// One walked text: save the Chinese original on the way to English (once), put it
// back on the way to Chinese. Empty texts are skipped in both directions.
void handleText(QObject* object, const char* property, bool english, const QString& current,
                const std::function<void(const QString&)>& apply)
{
    if (current.isEmpty())
        return;
    if (english) {
        if (savedText(object, property).isEmpty())
            object->setProperty(property, current);
        apply(LanguageManager::translate(current));
    } else {
        const QString saved = savedText(object, property);
        if (!saved.isEmpty())
            apply(saved);
    }
}

bool isSkippedLabelText(const QString& text)
{
    return text.isEmpty() || text == u"◆"_s || text == u"  "_s || text == u"●"_s || text == u"○"_s;
}

void handleWidget(QWidget* widget, bool english)
{
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (isSkippedLabelText(label->text()))
            return;
        handleText(label, "origText", english, label->text(),
                   [label](const QString& text) { label->setText(text); });
        return;
    }
    if (qobject_cast<QPushButton*>(widget) || qobject_cast<QCheckBox*>(widget) ||
        qobject_cast<QRadioButton*>(widget)) {
        auto* button = static_cast<QAbstractButton*>(widget);
        handleText(button, "origText", english, button->text(),
                   [button](const QString& text) { button->setText(text); });
        return;
    }
    if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        handleText(group, "origText", english, group->title(),
                   [group](const QString& text) { group->setTitle(text); });
        return;
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
        for (int i = 0; i < tabs->count(); ++i) {
            const QByteArray name = "tab" + QByteArray::number(i);
            handleText(tabs, name.constData(), english, tabs->tabText(i),
                       [tabs, i](const QString& text) { tabs->setTabText(i, text); });
        }
        return;
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) {
        handleText(plain, "origPH", english, plain->placeholderText(),
                   [plain](const QString& text) { plain->setPlaceholderText(text); });
        return;
    }
    if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        handleText(line, "origPH", english, line->placeholderText(),
                   [line](const QString& text) { line->setPlaceholderText(text); });
        return;
    }
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        // Long lists (encodings, code pages) hold names, not interface texts.
        if (combo->count() > 19)
            return;
        for (int i = 0; i < combo->count(); ++i) {
            const QByteArray name = "origItem" + QByteArray::number(i);
            const QString current = combo->itemText(i);
            handleText(combo, name.constData(), english, current,
                       [combo, i, current](const QString& text) {
                           // Setting an unchanged item would only emit needless signals.
                           if (text != current)
                               combo->setItemText(i, text);
                       });
        }
    }
}

} // namespace

void retranslateWidgetTree(QWidget* root)
{
    if (!root)
        return;
    const bool english = LanguageManager::isEnglish();

    QList<QWidget*> widgets;
    collectWidgets(root, widgets);
    for (QWidget* widget : std::as_const(widgets))
        handleWidget(widget, english);

    handleText(root, "origTitle", english, root->windowTitle(),
               [root](const QString& text) { root->setWindowTitle(text); });
}

QComboBox* createLanguageSelector(QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->addItem(u"中文"_s, 0);
    combo->addItem(u"English"_s, 1);
    // Set before connecting, so that building the selector never switches.
    combo->setCurrentIndex(LanguageManager::isEnglish() ? 1 : 0);
    combo->setFixedWidth(80);
    combo->setStyleSheet(
        // A list below the box: a popup over the chosen item runs off the top
        // of a window at the top of the screen and shows one row.
        u"QComboBox { background: transparent; color: #94A3B8; border: 1px solid #2A3A4A; "
        "border-radius: 3px; padding: 2px 6px; font-size: 11px; combobox-popup: 0; }"
        "QComboBox:hover { border-color: #60A5FA; }"
        "QComboBox QAbstractItemView { background: #0D1622; color: #F1F5F9; "
        "selection-background-color: #1E3A5F; }"_s);
    QObject::connect(combo, &QComboBox::currentIndexChanged, combo,
                     [](int index) { LanguageManager::setEnglish(index != 0); });
    return combo;
}

void setRuntimeText(QAbstractButton* button, const QString& chinese)
{
    if (!button)
        return;
    button->setProperty("origText", chinese);
    button->setText(LanguageManager::translate(chinese));
}

void setRuntimeText(QLabel* label, const QString& chinese, const QString& shown)
{
    if (!label)
        return;
    label->setProperty("origText", chinese);
    label->setText(shown);
}

void setRuntimePlaceholder(QPlainTextEdit* edit, const QString& chinese)
{
    if (!edit)
        return;
    edit->setProperty("origPH", chinese);
    edit->setPlaceholderText(LanguageManager::translate(chinese));
}
