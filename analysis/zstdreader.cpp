// SPDX-License-Identifier: GPL-3.0-or-later
#include "zstdreader.h"

#include <zstd.h>

ZstdReader::ZstdReader(const QString &path) : m_file(path), m_in(ZSTD_DStreamInSize()) {}

ZstdReader::~ZstdReader()
{
    ZSTD_freeDCtx(m_ctx);
}

bool ZstdReader::isCompressedName(const QString &path)
{
    return path.endsWith(QLatin1String(".zst"), Qt::CaseInsensitive);
}

bool ZstdReader::fail(Problem problem, const QString &detail)
{
    m_problem = problem;
    m_detail = detail;
    return false;
}

bool ZstdReader::open()
{
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return fail(Problem::System, m_file.errorString());
    m_ctx = ZSTD_createDCtx();
    if (!m_ctx)
        return fail(Problem::System, QStringLiteral("out of memory"));
    char head[32];  // more than a frame header's most (18 bytes)
    const qint64 n = m_file.read(head, sizeof head);
    if (n < 0)
        return fail(Problem::System, m_file.errorString());
    const unsigned long long size = ZSTD_getFrameContentSize(head, size_t(n));
    if (size != ZSTD_CONTENTSIZE_UNKNOWN && size != ZSTD_CONTENTSIZE_ERROR)
        m_plainSize = qint64(size);
    return rewind();
}

bool ZstdReader::rewind()
{
    if (!m_file.seek(0))
        return fail(Problem::System, m_file.errorString());
    ZSTD_DCtx_reset(m_ctx, ZSTD_reset_session_only);
    m_inPos = m_inSize = 0;
    m_lastResult = 0;
    m_inputEnded = false;
    return true;
}

qint64 ZstdReader::read(char *into, qint64 max)
{
    if (!m_ctx)
        return -1;
    ZSTD_outBuffer out{into, size_t(max), 0};
    while (out.pos == 0 && max > 0) {
        if (m_inPos == m_inSize && !m_inputEnded) {
            const qint64 n = m_file.read(m_in.data(), qint64(m_in.size()));
            if (n < 0) {
                fail(Problem::System, m_file.errorString());
                return -1;
            }
            m_inPos = 0;
            m_inSize = size_t(n);
            m_inputEnded = n == 0;
        }
        if (m_inPos == m_inSize && m_inputEnded) {
            // A frame begun and never ended: the file was cut short.
            if (m_lastResult != 0) {
                fail(Problem::Cut);
                return -1;
            }
            return 0;
        }
        ZSTD_inBuffer in{m_in.data(), m_inSize, m_inPos};
        const size_t result = ZSTD_decompressStream(m_ctx, &out, &in);
        m_inPos = in.pos;
        if (ZSTD_isError(result)) {
            fail(Problem::Corrupt, QLatin1String(ZSTD_getErrorName(result)));
            return -1;
        }
        m_lastResult = result;
    }
    return qint64(out.pos);
}
