// SPDX-License-Identifier: GPL-3.0-or-later
#include "trendwindow.h"

#include "trendview.h"

#include <QVBoxLayout>

TrendWindow::TrendWindow(const ReportHistory *history, QWidget *parent)
    : QWidget(parent, Qt::Window), m_view(new TrendView(history, this))
{
    // Closing the main window ends the program even while this one is shown.
    setAttribute(Qt::WA_QuitOnClose, false);
    // The view brings its own margins, title and size from its form.
    setWindowTitle(m_view->windowTitle());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    resize(m_view->size());
}

// Compiled with this file, so the build reads its headers once.
#include "moc_trendwindow.cpp"
