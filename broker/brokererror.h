// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaType>
#include <QString>

// What went wrong with a broker address or connection, as a value: the front
// ends word it (the window in its own language, the logger in English from
// describe()); `detail` carries the offending text or the library's reason.
struct BrokerError
{
    enum Code {
        None,
        UrlScheme,         // not mqtt:// or mqtts://
        UrlHost,           // no host, or a malformed one
        UrlPort,           // not 1-65535
        UrlPassword,       // a password inside the address
        UrlPrefix,         // missing, empty level, wildcard, '$' or too long
        PasswordFile,      // the password file cannot be read
        CaFile,            // the CA file cannot be read
        UnknownHost,       // the name does not resolve
        Refused,           // nothing listens there, or the broker turned us away
        WrongPassword,     // the broker refused the user or the password
        NotVerified,       // TLS: the certificate or its name does not verify
        Timeout,           // no answer to the connection in time
        ConnectionLost,    // the broker went away
        Other,
    };
    Code code = None;
    QString detail;

    bool isError() const { return code != None; }
    // The message in English, for logs and the command line.
    QString describe() const;
};

Q_DECLARE_METATYPE(BrokerError)
