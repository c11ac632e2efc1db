// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "graph/strip_chart.h"

#include <QString>
#include <QWidget>
#include <array>
#include <functional>

class QFrame;
class QIcon;
class QLabel;
class QPushButton;
class QTimer;

// The graph window: the strip chart of both sensors, its scale and legend, and
// a Close button. Once a second it reads the two graph value texts and adds
// them to the chart. A top-level window that deletes itself, chart and timer
// included, when closed.
class frmGraph : public QWidget {
    Q_OBJECT
  public:
    // Returns the current graph value texts, sensor 1 first.
    using GraphValues = std::function<std::array<QString, 2>()>;

    // icon is the program's icon, shown in the title bar and beside the legend.
    frmGraph(GraphValues values, const QIcon& icon, QWidget* parent = nullptr);

    // One second of the chart.
    void Timer1_Timer();

    const StripChart& chart() const { return chart_; }

    QFrame* Picture1;
    std::array<QLabel*, 9> scaleLabels; // Label10 (top) ... Label2 (bottom)
    QLabel* Label1;
    QLabel* Picture2;
    QPushButton* btnG_Close;
    QTimer* Timer1;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    GraphValues values_;
    StripChart chart_;
};
