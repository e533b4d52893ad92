// The settings reader: a file anyone may have edited by hand, or that a crash
// or another program left damaged.
#include "websocket/WindowSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "settings invariant broken: %s\n", what);
        std::abort();
    }
}

QString folder;
int runs = 0;

// QSettings caches files by name: each input gets a fresh one.
QString freshFile(const QByteArray& content)
{
    const QString path = folder + QStringLiteral("/%1.conf").arg(++runs);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

WindowSettings readBack(const WindowSettings& settings, QStringList* rejected)
{
    const QString path = freshFile(QByteArray());
    {
        QSettings file(path, QSettings::IniFormat);
        settings.write(file);
    }
    QSettings file(path, QSettings::IniFormat);
    const WindowSettings back = WindowSettings::read(file, rejected);
    QFile::remove(path);
    return back;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    static QTemporaryDir scratch;
    folder = scratch.path();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path =
        freshFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    QStringList rejected;
    WindowSettings first;
    {
        QSettings file(path, QSettings::IniFormat);
        first = WindowSettings::read(file, &rejected);
    }
    QFile::remove(path);

    // What was accepted once is written so that it reads back whole, and the
    // second trip changes nothing more.
    QStringList again;
    const WindowSettings second = readBack(first, &again);
    check(again.isEmpty(), "what the reader accepted is written readably");
    check(readBack(second, &again) == second, "a written file reads back as written");
    check(again.isEmpty(), "a second trip rejects nothing");
    check(second.sendHistory.size() <= first.sendHistory.size(), "history only shrinks");
    return 0;
}
