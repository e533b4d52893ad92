// Server mode in a process of its own, so that a test can starve it of file
// descriptors and not itself. Usage: serverchild PORT NOFILE: sets its limit
// on open files (soft and hard) to NOFILE, listens on PORT and prints
// "LISTENING", "NOTICE <text>" and "CLIENTS <n>" as things happen. Commands on
// stdin: "hog" takes every descriptor left, "free" gives them back, "cpu"
// prints "CPU <ms>" used so far.
#include "websocket/ConnectionManager.h"
#include "websocket/EventFormatter.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

static void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

int main(int argc, char** argv)
{
    const rlim_t files = argc == 3 ? rlim_t(std::atol(argv[2])) : 0;
    const rlimit limit{files, files};
    if (files == 0 || setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 2;
    QCoreApplication app(argc, argv);
    ConnectionManager server;
    QObject::connect(&server, &ConnectionManager::happened, &app, [](const ConnectionEvent& event) {
        say(QStringLiteral("NOTICE ") + EventFormatter::text(event));
    });
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
        const QByteArray commands(buffer, int(std::max<ssize_t>(size, 0)));
        if (size <= 0)
            app.quit();
        for (int fd; commands.contains("hog") && (fd = open("/dev/null", O_RDONLY)) >= 0;)
            hogs.push_back(fd);
        if (commands.contains("hog"))
            say(QStringLiteral("HOGGED"));
        for (; commands.contains("free") && !hogs.empty(); hogs.pop_back())
            close(hogs.back());
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000L +
                        (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000L;
        if (commands.contains("cpu"))
            say(QStringLiteral("CPU %1").arg(ms));
    });

    if (!server.listen(quint16(std::atoi(argv[1])), QStringLiteral("/ws")))
        return 1;
    say(QStringLiteral("LISTENING"));
    return app.exec();
}
