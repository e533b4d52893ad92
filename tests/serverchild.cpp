// Server mode in a process of its own, for tests that must starve it of file
// descriptors without starving themselves. Usage: serverchild PORT NOFILE.
// Sets its descriptor limit (soft and hard) to NOFILE, listens on PORT and
// prints "LISTENING", "NOTICE <text>" per notice and "CLIENTS <n>" whenever
// the number of clients changes. Commands on stdin: "hog" opens descriptors
// until none is left, "free" closes them again, "cpu" prints "CPU <ms>".
#include "websocket/ConnectionManager.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

long cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000L +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000L;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const rlimit limit{rlim_t(std::stoul(argv[2])), rlim_t(std::stoul(argv[2]))};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 2;
    QCoreApplication app(argc, argv);
    ConnectionManager server;
    QObject::connect(&server, &ConnectionManager::notice, &app,
                     [](const QString& text) { say(QStringLiteral("NOTICE ") + text); });
    const auto count = [&server] {
        say(QStringLiteral("CLIENTS %1").arg(server.clientIds().size()));
    };
    QObject::connect(&server, &ConnectionManager::clientJoined, &app, count);
    QObject::connect(&server, &ConnectionManager::clientLeft, &app, count);

    std::vector<int> hogs;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t size = read(STDIN_FILENO, buffer, sizeof buffer);
        if (size <= 0) {
            app.quit();
            return;
        }
        const QByteArray commands(buffer, int(size));
        if (commands.contains("hog")) {
            for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;)
                hogs.push_back(fd);
            say(QStringLiteral("HOGGED"));
        }
        if (commands.contains("free")) {
            for (int fd : hogs)
                close(fd);
            hogs.clear();
        }
        if (commands.contains("cpu"))
            say(QStringLiteral("CPU %1").arg(cpuMs()));
    });

    if (!server.listen(quint16(std::stoul(argv[1])), QStringLiteral("/ws")))
        return 1;
    say(QStringLiteral("LISTENING"));
    return app.exec();
}
