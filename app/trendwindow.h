// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class ReportHistory;
class TrendView;

// The trend view of the live history in a window of its own, which the main
// window fills whether it is shown or not; closing it hides it.
class TrendWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TrendWindow(const ReportHistory *history, QWidget *parent = nullptr);

    TrendView &view() const { return *m_view; }

private:
    TrendView *m_view = nullptr;
};
