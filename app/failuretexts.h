// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "brokererror.h"
#include "csvrecorder.h"
#include "recordingreader.h"

#include <QString>

// The window's words for why a recording could not be read or written, or a
// broker not reached: the
// libraries report a code and its details, the window shows them in its
// own language (the command line has its own English wording).
namespace orvale {

// "文件是空的", "不是记录文件：…" and the like; the system's reason as it
// gave it; empty for no failure.
[[nodiscard]] QString readerFailureText(const RecordingReader::Failure &failure);
[[nodiscard]] QString recorderFailureText(const CsvRecorder::Failure &failure);
// "用户名或密码错误", "找不到主机 …" and the like, short enough for a status bar.
[[nodiscard]] QString brokerFailureText(const BrokerError &error);

} // namespace orvale
