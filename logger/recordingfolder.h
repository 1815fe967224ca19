// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVector>
#include <QtGlobal>

// The logger's files of one name in its folder: NAME-YYYYMMDDTHHMMSSZ.csv
// (the UTC second of the file's first row), -2, -3 ... for later files begun
// in the same second, each plain, compressed (.csv.zst) or, after a
// compression cut short, with a leftover .csv.zst.tmp. Names are read from
// the folder each time, so no name is reused across restarts either.
class RecordingFolder
{
public:
    enum class Kind { Plain, Compressed, Partial };

    struct File
    {
        QString path;
        QString stem;  // the name without .csv and what follows
        QString stamp; // YYYYMMDDTHHMMSSZ
        int sequence = 1;
        Kind kind = Kind::Plain;
        qint64 bytes = 0;
    };

    RecordingFolder(const QString &dir, const QString &name);

    QString dir() const { return m_dir; }
    QString name() const { return m_name; }

    // The path a file whose first row came at `utcMs` gets: the first name
    // of that second no file of any kind has had, after the highest taken.
    QString newFilePath(qint64 utcMs) const;
    // This name's files, oldest first (by stamp, then sequence).
    QVector<File> files() const;

    static QString stamp(qint64 utcMs);
    // The compressed file's name for a plain one, and its temporary name.
    static QString compressedPath(const QString &plainPath) { return plainPath + QLatin1String(".zst"); }
    static QString partialPath(const QString &plainPath) { return plainPath + QLatin1String(".zst.tmp"); }

private:
    QString m_dir;
    QString m_name;
};
