// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingfolder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

RecordingFolder::RecordingFolder(const QString &dir, const QString &name) : m_dir(dir), m_name(name) {}

QString RecordingFolder::stamp(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

QVector<RecordingFolder::File> RecordingFolder::files() const
{
    static const QRegularExpression suffix(QStringLiteral("^-(\\d{8}T\\d{6}Z)(?:-(\\d{1,9}))?\\.csv(\\.zst(\\.tmp)?)?$"));
    QVector<File> found;
    const QDir dir(m_dir);
    const QFileInfoList entries = dir.entryInfoList({m_name + QLatin1String("-*.csv*")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo &info : entries) {
        const QString fileName = info.fileName();
        // The name itself may hold dashes; what follows it must be a stamp.
        const QRegularExpressionMatch m = suffix.match(fileName.mid(m_name.size()));
        if (!fileName.startsWith(m_name) || !m.hasMatch())
            continue;
        File file;
        file.path = info.absoluteFilePath();
        file.stamp = m.captured(1);
        file.sequence = m.captured(2).isEmpty() ? 1 : m.captured(2).toInt();
        if (file.sequence < 2 && !m.captured(2).isEmpty())
            continue;
        file.stem = fileName.left(fileName.indexOf(QLatin1String(".csv")));
        file.kind = !m.captured(4).isEmpty() ? Kind::Partial : !m.captured(3).isEmpty() ? Kind::Compressed : Kind::Plain;
        file.bytes = info.size();
        found.append(file);
    }
    std::sort(found.begin(), found.end(), [](const File &a, const File &b) {
        if (a.stamp != b.stamp)
            return a.stamp < b.stamp;
        if (a.sequence != b.sequence)
            return a.sequence < b.sequence;
        return int(a.kind) < int(b.kind);
    });
    return found;
}

QString RecordingFolder::newFilePath(qint64 utcMs) const
{
    const QString second = stamp(utcMs);
    int highest = 0;
    for (const File &file : files()) {
        if (file.stamp == second)
            highest = std::max(highest, file.sequence);
    }
    QString stem = m_name + QLatin1Char('-') + second;
    if (highest > 0)
        stem += QLatin1Char('-') + QString::number(highest + 1);
    return QDir(m_dir).filePath(stem + QLatin1String(".csv"));
}
