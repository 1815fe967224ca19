// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "brokerurl.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
namespace orvale {
struct BrokerOptions;
}

// A broker to publish to or to watch, as the operator or the command line
// gave it.
struct BrokerChoice
{
    BrokerUrl url;
    QByteArray password;
    QString caFile;  // empty: the system's certificates

    // The command line's password file read and its CA file looked at, for
    // `url`; an empty text, else the refusal for standard error.
    [[nodiscard]] static QString fromOptions(const orvale::BrokerOptions &options, const BrokerUrl &url,
                                             BrokerChoice *out);
};

// Asks for a broker's address, user, password and CA file. The address, the
// user and the CA file are remembered under `settingsGroup` for the next
// time; the password never is, so it reaches no file on disk.
class BrokerDialog : public QDialog
{
    Q_OBJECT

public:
    BrokerDialog(const QString &title, const QString &settingsGroup, QWidget *parent = nullptr);

    // What was accepted; the user field wins over a user in the address.
    [[nodiscard]] BrokerChoice choice() const { return m_choice; }

    // Stays open and says why while the address does not read.
    void accept() override;

private:
    void chooseCaFile();

    QString m_group;
    QLineEdit *m_url = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_ca = nullptr;
    QLabel *m_error = nullptr;
    BrokerChoice m_choice;
};
