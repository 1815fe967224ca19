// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "brokererror.h"

#include <QByteArray>
#include <QString>

// Where reports go: mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://... for TLS.
// The password never appears here; it comes from a file (readSecretFile).
struct BrokerUrl
{
    static constexpr quint16 DefaultPort = 1883;
    static constexpr quint16 DefaultTlsPort = 8883;

    bool tls = false;
    QString user;
    QString host;
    quint16 port = DefaultPort;
    QString prefix;

    // `error` is set to the first thing wrong with `text`, or to None.
    [[nodiscard]] static BrokerUrl parse(const QString &text, BrokerError *error);
    // PREFIX/leaf as the topic's UTF-8 bytes.
    [[nodiscard]] QByteArray topic(const char *leaf) const;
    // The address again, without the scheme's default port.
    [[nodiscard]] QString toString() const;
};

// A topic level may not be empty nor hold a wildcard; nor may a prefix start
// with '$' (the broker's own topics) or exceed MQTT's 65535 bytes.
[[nodiscard]] bool isValidTopicPrefix(const QString &prefix, QString *why = nullptr);

// The first line of a small file holding a secret (a password), without its
// line end. The file's name goes into the error, never its content.
[[nodiscard]] BrokerError readSecretFile(const QString &path, QByteArray &secret);
