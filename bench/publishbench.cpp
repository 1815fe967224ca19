// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing benchmark: COUNT reports at RATE a second through the publisher
// to a broker, and a subscriber in the same process reading them back.
// Prints the delay from a report's arrival to its reading back (p50, p99),
// what was lost, and the process's CPU (publisher and subscriber together).
// With --lines FILE it also writes the payloads as received, which
// scripts/influx-check feeds to a real time-series server.
//   orvale-bench-publish mqtt://[USER@]HOST[:PORT]/PREFIX [--count N] [--rate R]
//                        [--password-file F] [--lines FILE]

#include "cputime.h"
#include "linereader.h"
#include "mqttclient.h"
#include "reportpublisher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>


#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: orvale-bench-publish URL [--count N] [--rate R] [--password-file F] [--lines FILE]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return usage();
    BrokerError error;
    const BrokerUrl url = BrokerUrl::parse(args.at(1), &error);
    if (error.isError()) {
        std::fprintf(stderr, "orvale-bench-publish: %s\n", qPrintable(error.describe()));
        return 2;
    }
    int count = 2000;
    double rate = 123;
    QByteArray password;
    QFile lines;
    for (int i = 2; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--count")) {
            count = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--rate")) {
            rate = args[i + 1].toDouble();
        } else if (args[i] == QLatin1String("--password-file")) {
            error = readSecretFile(args[i + 1], password);
        } else if (args[i] == QLatin1String("--lines")) {
            lines.setFileName(args[i + 1]);
            if (!lines.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return usage();
        } else {
            return usage();
        }
    }
    if (error.isError() || count < 1 || rate <= 0) {
        std::fprintf(stderr, "orvale-bench-publish: %s\n", qPrintable(error.describe()));
        return usage();
    }

    LineReader reader;
    std::vector<double> delaysMs;
    MqttClient subscriber;
    MqttClient::Options options;
    options.url = url;
    options.password = password;
    subscriber.subscribe(url.topic("reports"), 1);
    QObject::connect(&subscriber, &MqttClient::messageReceived, [&](const QByteArray &, const QByteArray &payload) {
        const double nowMs = double(QDateTime::currentMSecsSinceEpoch());
        if (lines.isOpen())
            lines.write(payload);
        for (const auto &report : reader.read(payload))
            delaysMs.push_back(nowMs - double(report.timeNs / 1000000));
        if (int(delaysMs.size()) >= count)
            app.quit();
    });
    QObject::connect(&subscriber, &MqttClient::failed, [](const BrokerError &e) {
        std::fprintf(stderr, "subscriber: %s\n", qPrintable(e.describe()));
    });

    ReportPublisher publisher;
    ReportPublisher::Settings settings;
    settings.url = url;
    settings.password = password;
    settings.board = QStringLiteral("bench board,1");
    QObject::connect(&publisher, &ReportPublisher::failed, [](const BrokerError &e) {
        std::fprintf(stderr, "publisher: %s\n", qPrintable(e.describe()));
    });

    // Reports in reads of one to three, as a serial line delivers them; the
    // codes change now and then so the tags do too.
    int sent = 0;
    QTimer feed;
    QElapsedTimer clock;
    double cpuAtStart = 0;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        const qint64 due = std::min<qint64>(count, qint64(clock.elapsed() * rate / 1000.0) + 1);
        const Arrival now = Arrival::now();
        while (sent < due) {
            COMM_UART_OBJ frame{};
            frame.dev_id = 0xA1;
            frame.sa_code = uint8_t(sent / 500 % 4);
            frame.fil_code = uint8_t(sent / 700 % 5);
            frame.ch_code = uint8_t(sent / 900 % 4);
            frame.value = 412345678u + uint32_t(sent * 7919 % 1000);
            publisher.append(now, frame);
            ++sent;
        }
        if (sent >= count)
            feed.stop();
    });
    QObject::connect(&subscriber, &MqttClient::connected, [&] {
        if (publisher.isPublishing())
            return;
        QObject::connect(&publisher, &ReportPublisher::connected, [&] {
            if (clock.isValid())
                return;
            clock.start();
            cpuAtStart = ownCpuSeconds();
            feed.start(std::max(1, int(1000 / rate)));
        });
        publisher.start(settings);
    });
    subscriber.start(options);
    QTimer::singleShot(int(count / rate * 1000) + 30000, &app, &QCoreApplication::quit);
    app.exec();
    const double seconds = clock.isValid() ? clock.elapsed() / 1000.0 : 0;
    const double cpu = ownCpuSeconds() - cpuAtStart;
    publisher.stop();
    subscriber.stop();

    std::sort(delaysMs.begin(), delaysMs.end());
    auto at = [&](double q) { return delaysMs.empty() ? 0.0 : delaysMs[size_t(q * double(delaysMs.size() - 1))]; };
    std::printf("reports sent %d, read back %zu, lost %lld (queue %lld, gaps %lld), duplicates %lld\n", sent,
                delaysMs.size(), static_cast<long long>(count - qint64(delaysMs.size())),
                static_cast<long long>(publisher.lost()), static_cast<long long>(reader.lost()),
                static_cast<long long>(reader.duplicates()));
    std::printf("delay arrival -> read back: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", at(0.5), at(0.99), at(1.0));
    std::printf("CPU of publisher and subscriber together: %.2f%% of a core over %.1f s at %.0f/s\n",
                seconds > 0 ? 100 * cpu / seconds : 0.0, seconds, rate);
    return int(delaysMs.size()) == count ? 0 : 1;
}
