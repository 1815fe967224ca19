// SPDX-License-Identifier: GPL-3.0-or-later
#include "housekeeper.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <zstd.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A descriptor closed on every way out.
struct Fd
{
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

bool writeWhole(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// A rename and an unlink are lasting only once the folder is synced.
void syncFolder(const QString &path)
{
    Fd dir(::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0)
        fsync(dir.fd);
}

} // namespace

Housekeeper::Housekeeper(const RecordingFolder &folder, QObject *parent) : QObject(parent), m_folder(folder)
{
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

Housekeeper::~Housekeeper()
{
    m_stopping = true;
    m_pool.clear();
    m_pool.waitForDone();
}

void Housekeeper::setCurrentFile(const QString &path)
{
    QMutexLocker locker(&m_lock);
    m_current = QFileInfo(path).absoluteFilePath();
}

QString Housekeeper::currentFile() const
{
    QMutexLocker locker(&m_lock);
    return m_current;
}

void Housekeeper::sweep()
{
    m_pool.start([this] { runSweep(); });
}

void Housekeeper::waitForIdle()
{
    m_pool.waitForDone();
}

void Housekeeper::runSweep()
{
    // The list first, then the current file: a file made after the list
    // was read is not in it, and one made before is already current.
    QVector<RecordingFolder::File> files = m_folder.files();
    const QString current = currentFile();
    for (const RecordingFolder::File &file : files) {
        if (m_stopping)
            return;
        if (file.kind == RecordingFolder::Kind::Partial) {
            // Left by a compression cut short; its plain file is whole.
            QFile::remove(file.path);
        } else if (file.kind == RecordingFolder::Kind::Plain && m_compress && file.path != current) {
            QString error;
            const QString target = RecordingFolder::compressedPath(file.path);
            if (compressFile(file.path, Level, &m_stopping, error))
                emit compressed(file.path, target);
            else if (!m_stopping)
                emit message(4, tr("cannot compress %1: %2; it stays plain").arg(file.path, error));
        }
    }
    if (m_maxDisk <= 0 || m_stopping)
        return;
    files = m_folder.files();
    qint64 total = 0;
    for (const RecordingFolder::File &file : files)
        total += file.bytes;
    const QString now = currentFile();
    for (const RecordingFolder::File &file : files) {
        if (total <= m_maxDisk)
            break;
        if (file.path == now || file.path == current)
            continue;
        if (QFile::remove(file.path)) {
            total -= file.bytes;
            emit removed(file.path, file.bytes);
            emit message(6, tr("removed %1 (%2 bytes): the recordings passed the disk limit of %3 bytes")
                                .arg(file.path).arg(file.bytes).arg(m_maxDisk));
        } else {
            emit message(4, tr("cannot remove %1 to keep the disk limit").arg(file.path));
        }
    }
}

bool Housekeeper::compressFile(const QString &plainPath, int level, const std::atomic<bool> *stop, QString &error)
{
    const QString partial = RecordingFolder::partialPath(plainPath);
    const QByteArray partialName = QFile::encodeName(partial);
    Fd in(::open(QFile::encodeName(plainPath).constData(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) {
        error = errnoText(errno);
        return false;
    }
    const qint64 plainSize = QFileInfo(plainPath).size();
    Fd out(::open(partialName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.fd < 0) {
        error = errnoText(errno);
        return false;
    }
    const auto failWith = [&](const QString &reason) {
        error = reason;
        ::unlink(partialName.constData());
        return false;
    };
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx *)> ctx(ZSTD_createCCtx(), ZSTD_freeCCtx);
    if (!ctx)
        return failWith(QStringLiteral("out of memory"));
    ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_compressionLevel, level);
    // A checksum, so a damaged file is told from a recording; the plain size
    // in the header, so a reader can show its progress.
    ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setPledgedSrcSize(ctx.get(), (unsigned long long)plainSize);

    std::vector<char> inBuf(ZSTD_CStreamInSize() * 8), outBuf(ZSTD_CStreamOutSize());
    qint64 done = 0;
    for (;;) {
        if (stop && stop->load())
            return failWith(QStringLiteral("stopped"));
        // As much as the file held when the compression began: it is closed.
        ssize_t n = ::read(in.fd, inBuf.data(), size_t(std::min<qint64>(qint64(inBuf.size()), plainSize - done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failWith(errnoText(errno));
        done += n;
        const bool last = done >= plainSize || n == 0;
        ZSTD_inBuffer input{inBuf.data(), size_t(n), 0};
        for (;;) {
            ZSTD_outBuffer output{outBuf.data(), outBuf.size(), 0};
            const size_t left = ZSTD_compressStream2(ctx.get(), &output, &input, last ? ZSTD_e_end : ZSTD_e_continue);
            if (ZSTD_isError(left))
                return failWith(QString::fromLatin1(ZSTD_getErrorName(left)));
            if (!writeWhole(out.fd, outBuf.data(), output.pos))
                return failWith(errnoText(errno));
            if (last ? left == 0 : input.pos == input.size)
                break;
        }
        if (last)
            break;
    }
    if (fsync(out.fd) != 0)
        return failWith(errnoText(errno));
    const QByteArray target = QFile::encodeName(RecordingFolder::compressedPath(plainPath));
    if (::rename(partialName.constData(), target.constData()) != 0)
        return failWith(errnoText(errno));
    syncFolder(plainPath);
    // Only now, with the compressed file whole and lasting, the plain one goes.
    ::unlink(QFile::encodeName(plainPath).constData());
    syncFolder(plainPath);
    return true;
}

#include "moc_housekeeper.cpp"
