#pragma once

#include "comm/EntryReading.h"
#include "comm/LogEntry.h"

#include <QFrame>

#include <functional>

class DecodePage;
class DetailPage;
class QLabel;
class QLineEdit;
class QTabWidget;
class QTableView;
class QThreadPool;
template<typename T> class QFutureWatcher;

// The whole of one log entry below the rows: when and which way it went, to
// or from whom, in which frame and how large, then its text, a hex dump and,
// for JSON, the text indented, each with a button that copies it. Of a large
// entry only the first part is shown until the user asks for the rest.
class EntryDetailPane : public QFrame
{
    Q_OBJECT

public:
    explicit EntryDetailPane(QWidget* parent = nullptr);
    ~EntryDetailPane() override;

    void showEntry(const LogEntry& entry);
    // The entry shown; 0 for none or a row the log no longer keeps.
    quint64 entrySerial() const { return m_entry.serial(); }
    // A row whose entry the log no longer keeps: its text is all there is.
    void showGoneRow(const QString& rowText);
    // A tab of the protocol's own, shown for the entries it reads.
    void setReader(const EntryReader& reader) { m_reader = reader; }
    DecodePage* decodePage() const { return m_decodePage; }

signals:
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTableView* createHexView();
    void indentJson(const QString& text);
    void stopIndenting();
    // The indented text; `tooLarge` shows `text` as it came, saying why.
    void showJson(const QString& json, bool tooLarge = false, const QString& text = QString());
    void showFields();
    QLineEdit* addField(const QString& name, const char* objectName);

    LogEntry m_entry;
    bool m_gone = false;
    QLabel* m_goneNote = nullptr;
    QWidget* m_fields = nullptr;
    QLineEdit* m_time = nullptr;
    QLineEdit* m_direction = nullptr;
    QLineEdit* m_peer = nullptr;
    QLineEdit* m_frame = nullptr;
    QLineEdit* m_size = nullptr;
    QTabWidget* m_tabs = nullptr;
    DetailPage* m_textPage = nullptr;
    DetailPage* m_hexPage = nullptr;
    DetailPage* m_jsonPage = nullptr;
    DetailPage* m_protocolPage = nullptr;
    EntryReader m_reader;
    DecodePage* m_decodePage = nullptr;
    // One indentation at a time, on a pool of one thread that the pane owns.
    QFutureWatcher<QString>* m_jsonWatcher = nullptr;
    QThreadPool* m_jsonPool = nullptr;
};
