// SPDX-License-Identifier: GPL-3.0-or-later
#include "trendplot.h"

#include "reporthistory.h"

#include <algorithm>
#include <cmath>

namespace {

// More points than the plot has pixels across add nothing but drawing time.
constexpr int MaxPlotPoints = 2400;
// How near a cursor, in pixels, a press takes hold of it.
constexpr int CursorGrabPixels = 8;

} // namespace

TrendPlot::TrendPlot(QWidget *parent) : QCustomPlot(parent)
{
    addGraph();
    graph(0)->setPen(QPen(QColor(0x1f, 0x5f, 0xbf), 1));
    graph(0)->setAntialiased(false);
    QSharedPointer<QCPAxisTickerDateTime> timeTicker(new QCPAxisTickerDateTime);
    timeTicker->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    xAxis->setTicker(timeTicker);
    xAxis->setLabel(tr("时间"));
    yAxis->setLabel(tr("电压 (V)"));
    yAxis->setNumberFormat(QStringLiteral("f"));

    m_cursorBand = new QCPItemRect(this);
    m_cursorBand->setPen(Qt::NoPen);
    m_cursorBand->setBrush(QColor(0xff, 0xb0, 0x20, 40));
    m_cursorBand->topLeft->setTypeY(QCPItemPosition::ptAxisRectRatio);
    m_cursorBand->bottomRight->setTypeY(QCPItemPosition::ptAxisRectRatio);
    for (QCPItemStraightLine *&line : m_cursorLine) {
        line = new QCPItemStraightLine(this);
        line->setPen(QPen(QColor(0xc0, 0x60, 0x00), 1.5));
        line->point1->setTypeY(QCPItemPosition::ptAxisRectRatio);
        line->point2->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
    placeCursorLines();
    connect(this, &QCustomPlot::mousePress, this, [this](QMouseEvent *e) { cursorMouse(e); });
    connect(this, &QCustomPlot::mouseMove, this, [this](QMouseEvent *e) { cursorMouse(e); });
    connect(this, &QCustomPlot::mouseRelease, this, [this](QMouseEvent *e) { cursorMouse(e); });
}

void TrendPlot::showStretch(const ReportHistory &history, const SpanChoice::Stretch &s)
{
    if (s.end == s.begin) {
        graph(0)->data()->clear();
        replot();
        return;
    }
    QVector<double> keys, values;
    history.envelope(s.begin, s.end, MaxPlotPoints, keys, values);
    graph(0)->setData(keys, values, true);
    xAxis->setRange(double(s.beginMs) / 1000.0, double(std::max(s.endMs, s.beginMs + 1)) / 1000.0);

    // Y follows the data in the span (not only between the cursors), with
    // room for the line at the edges.
    const SpanStatistics all = history.statistics(s.begin, s.end);
    const double lo = all.minCounts * 1e-8, hi = all.maxCounts * 1e-8;
    const double margin = std::max((hi - lo) * 0.08, 1e-6);
    yAxis->setRange(lo - margin, hi + margin);
    // One decimal more than the tick step needs, for steps such as 0.0025.
    const double step = (hi - lo + 2 * margin) / 5;
    yAxis->setNumberPrecision(std::clamp(int(std::ceil(-std::log10(step))) + 1, 0, 8));
    placeCursorLines();
    replot();
}

void TrendPlot::setCursors(double firstS, double secondS)
{
    m_cursorS = {firstS, secondS};
    m_cursorsSet = true;
    placeCursorLines();
}

void TrendPlot::clearCursors()
{
    m_dragging = -1;
    m_cursorsSet = false;
    placeCursorLines();
}

void TrendPlot::placeCursorsInThirds()
{
    const QCPRange range = xAxis->range();
    setCursors(range.lower + range.size() / 3, range.lower + range.size() * 2 / 3);
}

void TrendPlot::placeCursorLines()
{
    for (int i = 0; i < 2; ++i) {
        m_cursorLine[i]->setVisible(m_cursorsSet);
        m_cursorLine[i]->point1->setCoords(m_cursorS[size_t(i)], 0);
        m_cursorLine[i]->point2->setCoords(m_cursorS[size_t(i)], 1);
    }
    m_cursorBand->setVisible(m_cursorsSet);
    m_cursorBand->topLeft->setCoords(std::min(m_cursorS[0], m_cursorS[1]), 0);
    m_cursorBand->bottomRight->setCoords(std::max(m_cursorS[0], m_cursorS[1]), 1);
}

bool TrendPlot::cursorMouse(QMouseEvent *event)
{
    if (!m_cursorsSet)
        return false;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const double x = event->position().x();
#else
    const double x = event->localPos().x();
#endif
    int nearest = -1;
    for (int i = 0; i < 2; ++i) {
        const double distance = std::abs(xAxis->coordToPixel(m_cursorS[size_t(i)]) - x);
        if (distance <= CursorGrabPixels
            && (nearest < 0 || distance < std::abs(xAxis->coordToPixel(m_cursorS[size_t(nearest)]) - x)))
            nearest = i;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (event->button() != Qt::LeftButton || nearest < 0)
            return false;
        m_dragging = nearest;
        return true;
    case QEvent::MouseMove: {
        if (m_dragging < 0) {
            setCursor(nearest >= 0 ? Qt::SizeHorCursor : Qt::ArrowCursor);
            return false;
        }
        const QCPRange range = xAxis->range();
        m_cursorS[size_t(m_dragging)] = std::clamp(xAxis->pixelToCoord(x), range.lower, range.upper);
        placeCursorLines();
        emit cursorsDragged();
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (m_dragging < 0)
            return false;
        m_dragging = -1;
        return true;
    default:
        return false;
    }
}

// Compiled with this file, so the build reads its headers once.
#include "moc_trendplot.cpp"
