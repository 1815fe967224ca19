// SPDX-License-Identifier: GPL-3.0-or-later
#include "brokerurl.h"

#include <QFile>

#include <utility>

QString BrokerError::describe() const
{
    QString text;
    switch (code) {
    case None: return QString();
    case UrlScheme: text = QStringLiteral("the address must begin with mqtt:// or mqtts://"); break;
    case UrlHost: text = QStringLiteral("the address names no valid host"); break;
    case UrlPort: text = QStringLiteral("the port must be a number from 1 to 65535"); break;
    case UrlPassword: text = QStringLiteral("a password does not belong in the address; use a password file"); break;
    case UrlPrefix: text = QStringLiteral("the topic prefix is not valid"); break;
    case PasswordFile: text = QStringLiteral("cannot read the password file"); break;
    case CaFile: text = QStringLiteral("cannot read the CA file"); break;
    case UnknownHost: text = QStringLiteral("unknown host"); break;
    case Refused: text = QStringLiteral("the broker refused the connection"); break;
    case WrongPassword: text = QStringLiteral("the broker refused the user name or password"); break;
    case NotVerified: text = QStringLiteral("the broker's certificate does not verify"); break;
    case Timeout: text = QStringLiteral("the broker did not answer in time"); break;
    case ConnectionLost: text = QStringLiteral("the connection to the broker was lost"); break;
    case Other: text = QStringLiteral("broker error"); break;
    }
    return detail.isEmpty() ? text : text + QStringLiteral(": ") + detail;
}

bool isValidTopicPrefix(const QString &prefix, QString *why)
{
    auto fail = [why](const char *reason) {
        if (why)
            *why = QString::fromLatin1(reason);
        return false;
    };
    if (prefix.isEmpty())
        return fail("no topic prefix after the host");
    if (prefix.startsWith(QLatin1Char('$')))
        return fail("a prefix may not begin with '$'");
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')))
        return fail("a prefix may not hold '+' or '#'");
    if (prefix.contains(QChar(0)))
        return fail("a prefix may not hold a NUL character");
    if (prefix.split(QLatin1Char('/')).contains(QString()))
        return fail("a prefix may not have an empty level");
    // The longest leaf ("/summary") must still fit MQTT's topic length.
    if (prefix.toUtf8().size() > 65535 - 8)
        return fail("the prefix is too long");
    return true;
}

BrokerUrl BrokerUrl::parse(const QString &text, BrokerError *error)
{
    BrokerUrl url;
    auto fail = [&](BrokerError::Code code, const QString &detail) {
        if (error)
            *error = BrokerError{code, detail};
        return BrokerUrl();
    };
    QString rest;
    if (text.startsWith(QLatin1String("mqtt://"))) {
        rest = text.mid(7);
    } else if (text.startsWith(QLatin1String("mqtts://"))) {
        url.tls = true;
        url.port = DefaultTlsPort;
        rest = text.mid(8);
    } else {
        return fail(BrokerError::UrlScheme, text.section(QLatin1String("://"), 0, 0));
    }
    const int slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash < 0 ? rest : rest.left(slash);
    url.prefix = slash < 0 ? QString() : rest.mid(slash + 1);

    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        url.user = authority.left(at);
        authority = authority.mid(at + 1);
        if (url.user.contains(QLatin1Char(':')))
            return fail(BrokerError::UrlPassword, QString());
        if (url.user.isEmpty())
            return fail(BrokerError::UrlHost, QStringLiteral("empty user name before '@'"));
    }
    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {  // [IPv6]:port
        const int close = authority.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(BrokerError::UrlHost, authority);
        url.host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return fail(BrokerError::UrlHost, authority);
        portText = after.mid(1);
        if (after.startsWith(QLatin1Char(':')) && portText.isEmpty())
            return fail(BrokerError::UrlPort, QString());
    } else {
        const int colon = authority.indexOf(QLatin1Char(':'));
        url.host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0) {
            portText = authority.mid(colon + 1);
            if (portText.isEmpty())
                return fail(BrokerError::UrlPort, QString());
        }
    }
    if (url.host.isEmpty())
        return fail(BrokerError::UrlHost, QStringLiteral("no host"));
    for (const QChar c : std::as_const(url.host)) {
        if (c.isSpace() || c == QLatin1Char('[') || c == QLatin1Char(']') || c.unicode() < 0x20)
            return fail(BrokerError::UrlHost, url.host);
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok, 10);
        if (!ok || port < 1 || port > 65535 || !portText.at(0).isDigit())
            return fail(BrokerError::UrlPort, portText);
        url.port = quint16(port);
    }
    QString why;
    if (!isValidTopicPrefix(url.prefix, &why))
        return fail(BrokerError::UrlPrefix, why);
    if (error)
        *error = BrokerError();
    return url;
}

QByteArray BrokerUrl::topic(const char *leaf) const
{
    return prefix.toUtf8() + '/' + leaf;
}

QString BrokerUrl::toString() const
{
    QString text = tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://");
    if (!user.isEmpty())
        text += user + QLatin1Char('@');
    text += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    if (port != (tls ? DefaultTlsPort : DefaultPort))
        text += QLatin1Char(':') + QString::number(port);
    return text + QLatin1Char('/') + prefix;
}

BrokerError readSecretFile(const QString &path, QByteArray &secret)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return BrokerError{BrokerError::PasswordFile, path + QStringLiteral(": ") + file.errorString()};
    // A password is short; anything longer than this is not a password file.
    const QByteArray bytes = file.read(4096);
    int end = bytes.indexOf('\n');
    if (end < 0)
        end = bytes.size();
    if (end > 0 && bytes.at(end - 1) == '\r')
        --end;
    secret = bytes.left(end);
    return BrokerError();
}
