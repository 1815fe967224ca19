// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A real mosquitto for a suite on loopback ports nothing else uses: a
// password file with one user, a plain and a TLS listener, certificates made
// at set-up by openssl (a CA that signs the broker's, and another CA whose
// certificates must be refused), its saved state in the suite's own folder.

#include "brokerurl.h"
#include "linereader.h"
#include "mqttclient.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class MosquittoBroker
{
public:
    static constexpr char User[] = "lab";
    static constexpr char Password[] = "s3cret pass";

    // A loopback port nothing listens on now (port 0), or whether one accepts.
    static quint16 freePort() { return probe(0); }
    static bool accepts(quint16 port) { return probe(port) != 0; }

    ~MosquittoBroker() { stop(); }

    // Why the broker cannot be had here, for QSKIP; empty when it can.
    QString missingTools()
    {
        const QStringList sbin{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")};
        m_mosquitto = QStandardPaths::findExecutable(QStringLiteral("mosquitto"), sbin);
        m_passwd = QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd"), sbin);
        m_openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        if (m_mosquitto.isEmpty() || m_passwd.isEmpty() || m_openssl.isEmpty())
            return QStringLiteral("needs mosquitto, mosquitto_passwd and openssl (scripts/deps.sh installs them)");
        return QString();
    }

    // Makes the certificates, the password file and the configuration, and
    // starts the broker; once missingTools() found everything.
    bool setUp()
    {
        const QString &openssl = m_openssl;
        const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        const bool made = write("server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n")
            && run(openssl, QStringList{"req", "-x509"} + ec + QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj", "/CN=test ca"})
            && run(openssl, QStringList{"req", "-x509"} + ec + QStringList{"-keyout", "other.key", "-out", "other.crt", "-days", "2", "-subj", "/CN=test other"})
            && run(openssl, QStringList{"req"} + ec + QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost"})
            && run(openssl, {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                             "-out", "server.crt", "-days", "2", "-extfile", "server.ext"})
            && run(m_passwd, {"-c", "-b", "passwd", QString::fromLatin1(User), QString::fromLatin1(Password)});
        m_port = freePort();
        m_tlsPort = freePort();
        const QByteArray dir = QFile::encodeName(m_dir.path()) + '/';
        QByteArray conf = "per_listener_settings false\nallow_anonymous false\npersistence true\nautosave_interval 1\n"
                          "autosave_on_changes true\nmax_queued_messages 100000\nlog_dest none\n";
        conf += "persistence_location " + dir + "\npassword_file " + dir + "passwd\n";
        if (::getuid() == 0)
            conf += "user root\n";  // the files are the test's, not the broker's own user's
        conf += "listener " + QByteArray::number(m_port) + " 127.0.0.1\n";
        conf += "listener " + QByteArray::number(m_tlsPort) + " 127.0.0.1\n";
        conf += "cafile " + dir + "ca.crt\ncertfile " + dir + "server.crt\nkeyfile " + dir + "server.key\n";
        return made && write("mosquitto.conf", conf) && start();
    }

    bool start()
    {
        m_broker.start(m_mosquitto, {QStringLiteral("-c"), path("mosquitto.conf")});
        return m_broker.waitForStarted(5000)
               && QTest::qWaitFor([this] { return accepts(m_port) && accepts(m_tlsPort); }, 5000);
    }

    void stop()
    {
        if (m_broker.state() == QProcess::NotRunning)
            return;
        m_broker.terminate();
        if (!m_broker.waitForFinished(5000))
            m_broker.kill();
        m_broker.waitForFinished(5000);
    }

    QProcess &process() { return m_broker; }
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    quint16 port() const { return m_port; }

    // An address on this broker, as the user of the password file.
    BrokerUrl url(bool tls, const QString &prefix, const QByteArray &user = User) const
    {
        BrokerUrl url;
        url.tls = tls;
        url.user = QString::fromUtf8(user);
        url.host = QStringLiteral("127.0.0.1");
        url.port = tls ? m_tlsPort : m_port;
        url.prefix = prefix;
        return url;
    }

private:
    static quint16 probe(quint16 port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        socklen_t length = sizeof address;
        bool ok = port ? ::connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0
                       : ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0
                             && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
        ::close(fd);
        return ok ? ntohs(address.sin_port) : 0;
    }

    bool write(const char *name, const QByteArray &text) const
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }

    bool run(const QString &program, const QStringList &arguments) const
    {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.start(program, arguments);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    QString m_mosquitto;
    QString m_passwd;
    QString m_openssl;
    QProcess m_broker;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
};

// A subscriber to a prefix's reports and status, as the user of the password
// file, whose session the broker keeps (and saves across its restart): it
// misses nothing however the reconnects interleave.
struct Subscriber
{
    MqttClient client;
    LineReader reader;
    QVector<orvale::lineprotocol::LineReport> reports;
    QByteArrayList statuses;
    int messages = 0;  // of reports

    Subscriber(const BrokerUrl &url, const QByteArray &id)
    {
        QObject::connect(&client, &MqttClient::messageReceived, &client, [this](const QByteArray &topic, const QByteArray &payload) {
            if (topic.endsWith("/reports")) {
                ++messages;
                reports += reader.read(payload);
            } else if (topic.endsWith("/status")) {
                statuses += payload;
            }
        });
        client.subscribe(url.topic("reports"), 1);
        client.subscribe(url.topic("status"), 1);
        MqttClient::Options options;
        options.url = url;
        options.password = MosquittoBroker::Password;
        options.clientId = id;
        options.cleanSession = false;
        options.firstRetryMs = 100;
        client.start(options);
    }
};
