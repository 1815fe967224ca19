// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A real mosquitto for a suite, on loopback ports nothing else uses: a
// password file with one user, a plain and a TLS listener, certificates made
// at set-up by openssl (a CA that signs the broker's, and another CA whose
// certificates must be refused), and its saved state in the suite's own
// folder. The broker can be stopped and started again.

#include "brokerurl.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
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

    // A loopback port nothing listens on now.
    static quint16 freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), length);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        ::close(fd);
        return ntohs(address.sin_port);
    }

    static bool accepts(quint16 port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    ~MosquittoBroker()
    {
        if (m_broker.state() != QProcess::NotRunning)
            stop();
    }

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
    // starts the broker; after missingTools() said nothing is missing.
    bool setUp()
    {
        if (!m_dir.isValid())
            return false;
        QFile ext(path("server.ext"));
        if (!ext.open(QIODevice::WriteOnly))
            return false;
        ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
        ext.close();
        const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
        for (const char *ca : {"ca", "other"}) {
            if (!run(m_openssl, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec
                                    + QStringList{QStringLiteral("-keyout"), QString::fromLatin1(ca) + ".key", "-out",
                                                  QString::fromLatin1(ca) + ".crt", "-days", "2", "-subj",
                                                  QStringLiteral("/CN=test %1").arg(QLatin1String(ca))}))
                return false;
        }
        if (!run(m_openssl, QStringList{QStringLiteral("req")} + ec
                                + QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost"})
            || !run(m_openssl, {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                                "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "server.ext"})
            || !run(m_passwd, {"-c", "-b", "passwd", QString::fromLatin1(User), QString::fromLatin1(Password)}))
            return false;

        m_port = freePort();
        m_tlsPort = freePort();
        QFile conf(path("mosquitto.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        QByteArray text = "per_listener_settings false\nallow_anonymous false\n"
                          "persistence true\nautosave_interval 1\nautosave_on_changes true\nmax_queued_messages 100000\nlog_dest none\n";
        text += "persistence_location " + QFile::encodeName(m_dir.path()) + "/\n";
        text += "password_file " + QFile::encodeName(path("passwd")) + '\n';
        if (::getuid() == 0)
            text += "user root\n";  // the files are the test's, not the broker's own user's
        text += "listener " + QByteArray::number(m_port) + " 127.0.0.1\n";
        text += "listener " + QByteArray::number(m_tlsPort) + " 127.0.0.1\n";
        for (const char *key : {"cafile ca.crt", "certfile server.crt", "keyfile server.key"})
            text += QByteArray(key).replace(' ', ' ' + QFile::encodeName(m_dir.path()) + '/') + '\n';
        conf.write(text);
        conf.close();
        return start();
    }

    bool start()
    {
        m_broker.start(m_mosquitto, {QStringLiteral("-c"), path("mosquitto.conf")});
        if (!m_broker.waitForStarted(5000))
            return false;
        for (int i = 0; i < 250 && !(accepts(m_port) && accepts(m_tlsPort)); ++i)
            QTest::qWait(20);
        return accepts(m_port) && accepts(m_tlsPort);
    }

    void stop()
    {
        m_broker.terminate();
        if (!m_broker.waitForFinished(5000))
            m_broker.kill();
        m_broker.waitForFinished(5000);
    }

    bool isRunning() const { return m_broker.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_broker.processId(); }
    QProcess &process() { return m_broker; }

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }

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
    bool run(const QString &program, const QStringList &arguments)
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
