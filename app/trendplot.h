// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "qcustomplot.h"

#include "spanchoice.h"

#include <array>

class ReportHistory;

// The history's value against time of day, with two cursors the operator
// drags to pick the reports between them.
class TrendPlot : public QCustomPlot
{
    Q_OBJECT

public:
    explicit TrendPlot(QWidget *parent = nullptr);

    // Draws the reports of the stretch, at most as many points as there are
    // pixels across (the envelope of each), the value axis fitting them.
    void showStretch(const ReportHistory &history, const SpanChoice::Stretch &stretch);

    // The cursors' times in seconds since the epoch, as the time axis.
    void setCursors(double firstS, double secondS);
    void clearCursors();
    // At a third and two thirds of what is shown; the operator drags them from there.
    void placeCursorsInThirds();
    bool hasCursors() const { return m_cursorsSet; }
    double cursorS(int i) const { return m_cursorS[size_t(i)]; }

signals:
    // The operator has dragged a cursor.
    void cursorsDragged();

private:
    void placeCursorLines();
    bool cursorMouse(QMouseEvent *event);

    bool m_cursorsSet = false;
    std::array<double, 2> m_cursorS = {0, 0};
    int m_dragging = -1;  // the cursor being dragged
    QCPItemStraightLine *m_cursorLine[2] = {nullptr, nullptr};
    QCPItemRect *m_cursorBand = nullptr;
};
