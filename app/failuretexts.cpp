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

} // namespace orvale
