// SPDX-License-Identifier: GPL-3.0-or-later
#include "failuretexts.h"

#include <QCoreApplication>

namespace orvale {

namespace {

QString text(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}

} // namespace

QString readerFailureText(const RecordingReader::Failure &failure)
{
    using Error = RecordingReader::Error;
    switch (failure.error) {
    case Error::None: return QString();
    case Error::IsDirectory: return text("是一个目录");
    case Error::CannotRead: return failure.systemReason;
    case Error::Empty: return text("文件是空的");
    case Error::Cancelled: return text("已取消");
    case Error::TooManyRows: return text("有 %1 行，超过 %2 行的上限").arg(failure.rows).arg(RecordingReader::MaxRows);
    case Error::NoHeader: return text("不是记录文件：第一行不是列名");
    case Error::UnpairedQuotes: return text("不是记录文件：第一行的引号不成对");
    case Error::CompressedCut: return text("压缩文件不完整");
    case Error::CompressedCorrupt: return text("压缩数据损坏：") + failure.systemReason;
    case Error::MissingColumns:
        return text("不是记录文件：第一行没有 %1 列").arg(failure.missingColumns.join(text(" 和 ")));
    }
    return QString();
}

QString recorderFailureText(const CsvRecorder::Failure &failure)
{
    using Error = CsvRecorder::Error;
    switch (failure.error) {
    case Error::None: return QString();
    case Error::CannotOpen:
    case Error::CannotWrite: return failure.systemReason;
    case Error::WriteCutShort: return text("文件只写进了 %2 字节中的 %1 字节").arg(failure.bytesTaken).arg(failure.bytesGiven);
    }
    return QString();
}

QString brokerFailureText(const BrokerError &error)
{
    // The library's own detail says where, or which file; the broker's
    // reason for a refused password adds nothing to the words.
    const QString detail = error.detail.isEmpty() ? QString() : text("（%1）").arg(error.detail);
    switch (error.code) {
    case BrokerError::None: return QString();
    case BrokerError::UrlScheme: return text("地址须以 mqtt:// 或 mqtts:// 开头");
    case BrokerError::UrlHost: return text("地址里没有有效的主机名");
    case BrokerError::UrlPort: return text("端口须是 1 到 65535 的数");
    case BrokerError::UrlPassword: return text("密码不能写在地址里");
    case BrokerError::UrlPrefix: return text("主题前缀无效") + detail;
    case BrokerError::PasswordFile: return text("读不了密码文件") + detail;
    case BrokerError::CaFile: return text("读不了 CA 证书文件") + detail;
    case BrokerError::UnknownHost: return text("找不到主机 %1").arg(error.detail);
    case BrokerError::Refused: return text("服务器拒绝连接") + detail;
    case BrokerError::WrongPassword: return text("用户名或密码错误");
    case BrokerError::NotVerified: return text("服务器证书未通过验证");
    case BrokerError::Timeout: return text("服务器没有应答");
    case BrokerError::ConnectionLost: return text("与服务器的连接断了");
    case BrokerError::Other: return text("出错") + detail;
    }
    return QString();
}

} // namespace orvale
