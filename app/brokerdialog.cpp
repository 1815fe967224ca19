// SPDX-License-Identifier: GPL-3.0-or-later
#include "brokerdialog.h"

#include "commandline.h"
#include "failuretexts.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

QString BrokerChoice::fromOptions(const orvale::BrokerOptions &options, const BrokerUrl &url, BrokerChoice *out)
{
    out->url = url;
    out->caFile = options.caFile;
    return options.readFiles(&out->password);
}

BrokerDialog::BrokerDialog(const QString &title, const QString &settingsGroup, QWidget *parent)
    : QDialog(parent), m_group(settingsGroup)
{
    setObjectName(QStringLiteral("brokerDialog"));
    setWindowTitle(title);
    m_url = new QLineEdit(this);
    m_url->setObjectName(QStringLiteral("brokerUrl"));
    m_url->setPlaceholderText(QStringLiteral("mqtts://host/lab/board1"));
    m_url->setMinimumWidth(320);
    m_user = new QLineEdit(this);
    m_user->setObjectName(QStringLiteral("brokerUser"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("brokerPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    m_ca = new QLineEdit(this);
    m_ca->setObjectName(QStringLiteral("brokerCa"));
    m_ca->setPlaceholderText(tr("系统自带的证书"));
    auto *browse = new QPushButton(tr("浏览…"), this);
    browse->setObjectName(QStringLiteral("brokerCaBrowse"));
    connect(browse, &QPushButton::clicked, this, &BrokerDialog::chooseCaFile);
    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("brokerError"));
    m_error->setStyleSheet(QStringLiteral("color: #b00020"));
    m_error->setWordWrap(true);
    m_error->hide();

    auto *caRow = new QHBoxLayout;
    caRow->addWidget(m_ca, 1);
    caRow->addWidget(browse);
    auto *form = new QFormLayout;
    form->addRow(tr("地址："), m_url);
    form->addRow(tr("用户名："), m_user);
    form->addRow(tr("密码："), m_password);
    form->addRow(tr("CA 证书："), caRow);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &BrokerDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &BrokerDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_error);
    layout->addWidget(buttons);

    QSettings settings;
    settings.beginGroup(m_group);
    m_url->setText(settings.value(QStringLiteral("url")).toString());
    m_user->setText(settings.value(QStringLiteral("user")).toString());
    m_ca->setText(settings.value(QStringLiteral("caFile")).toString());
}

void BrokerDialog::accept()
{
    BrokerError error;
    BrokerUrl url = BrokerUrl::parse(m_url->text().trimmed(), &error);
    if (error.isError()) {
        m_error->setText(tr("地址无效：") + orvale::brokerFailureText(error));
        m_error->show();
        m_url->setFocus();
        return;
    }
    if (!m_user->text().isEmpty())
        url.user = m_user->text();
    m_choice.url = url;
    // Nothing typed is no password at all, not an empty one.
    m_choice.password = m_password->text().isEmpty() ? QByteArray() : m_password->text().toUtf8();
    m_choice.caFile = m_ca->text().trimmed();

    QSettings settings;
    settings.beginGroup(m_group);
    settings.setValue(QStringLiteral("url"), m_url->text().trimmed());
    settings.setValue(QStringLiteral("user"), m_user->text());
    settings.setValue(QStringLiteral("caFile"), m_choice.caFile);
    QDialog::accept();
}

void BrokerDialog::chooseCaFile()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("CA 证书"), QFileInfo(m_ca->text()).path(),
                                                      tr("证书 (*.crt *.pem);;所有文件 (*)"));
    if (!path.isEmpty())
        m_ca->setText(path);
}

// Compiled with this file, so the build reads its headers once.
#include "moc_brokerdialog.cpp"
