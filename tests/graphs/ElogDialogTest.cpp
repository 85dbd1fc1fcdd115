// The E-LOG graph dialog: what it shows on opening, its buttons and row list driving the plot,
// and axis labels that stay inside the window without overlapping.
#include "datalog/CElogGraph.h"

#include "base/PrintfText.h"
#include "graphs/GraphArea.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A log with every option selected, rows as the datalogger lists them.
ElogPlot::Inputs FullLog(int rows, int interval)
{
    ElogPlot::Inputs in;
    for (int i = 1; i <= rows; ++i) {
        const double flow = 40 + 25 * std::sin(i * 0.05) + (i % 7) * 0.8;
        const int seconds = 12 * 3600 + 30 * 60 + i * interval;
        const QString time = PrintfText::Format(
            "%02d:%02d:%02d PM", (seconds / 3600 - 1) % 12 + 1, seconds / 60 % 60, seconds % 60);
        QString row = QStringLiteral("; %1    ").arg(i);
        for (const QString &v : { QStringLiteral("01/31/2007"), time,
                 QString::number(flow, 'f', 2) + QStringLiteral("  "),
                 QString::number(i * 12.5, 'f', 1) + QStringLiteral("  "), QStringLiteral("70.12"),
                 QStringLiteral("10.03"), QString(flow > 56 ? "RL1*" : "RL1."),
                 QString(flow < 25 ? "RL2*" : "RL2.") })
            row += QStringLiteral("; ") + v + QStringLiteral("    ");
        in.entries << row;
    }
    in.entries << QString();
    in.interval = interval;
    for (int c = 0; c < ElogPlot::ColumnCount; ++c)
        in.columns[size_t(c)] = c + 2;
    in.fullScale = 80;
    in.flowUnits = QStringLiteral("SCFM");
    in.startTime = QStringLiteral("12:30:00 PM");
    return in;
}

QPushButton *ButtonOf(const CElogGraph &dialog, const char *name)
{
    auto *b = dialog.findChild<QPushButton *>(QString::fromLatin1(name));
    EXPECT_NE(b, nullptr) << name;
    return b;
}

} // namespace

TEST(ElogDialog, OpensWithScalesLabelsAndStatistics)
{
    ElogPlot::Inputs in = FullLog(2, 5);
    CElogGraph dialog(in);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("E-LOG Graph"));
    EXPECT_EQ(dialog.RowCount(), 2);
    EXPECT_EQ(dialog.RangeCombo()->currentText(), QStringLiteral("10"));
    EXPECT_EQ(dialog.UnitsCombo()->currentText(), QStringLiteral("Seconds"));
    EXPECT_EQ(dialog.DivisionLabel()->text(), QStringLiteral("1 Seconds/Div"));
    EXPECT_EQ(dialog.TimeLabel(0)->text(), QStringLiteral("12:30:0 PM"));
    EXPECT_EQ(dialog.TimeLabel(10)->text(), QStringLiteral("12:30:10 PM"));
    EXPECT_EQ(dialog.IntervalLabel()->text(), QStringLiteral("Snapshot Interval Each 5 Seconds"));
    EXPECT_EQ(dialog.UnitsLabel()->text(), QStringLiteral("SCFM"));
    EXPECT_EQ(dialog.ColumnLabel(0)->text(), QStringLiteral("Line"));
    EXPECT_EQ(dialog.ColumnLabel(1)->text(), QStringLiteral("Date"));
    EXPECT_EQ(dialog.ColumnLabel(8)->text(), QStringLiteral("Relay2"));
    EXPECT_EQ(dialog.HighEdit()->text(), dialog.Plot().MakeLabels().high);
    EXPECT_EQ(dialog.FlowLabel(5)->text(), PrintfText::Format("%.2f", dialog.Plot().High()));
    EXPECT_TRUE(dialog.Plot().GraphReady());
    EXPECT_EQ(dialog.DivisionLabel()->font().family(), QStringLiteral("Arial Black"));
}

TEST(ElogDialog, ButtonsAndRowListDriveThePlot)
{
    CElogGraph dialog(FullLog(90, 1)); // Range 100 Seconds
    dialog.show();
    QApplication::processEvents();
    ASSERT_EQ(dialog.RangeCombo()->currentText(), QStringLiteral("100"));

    const QString top = dialog.FlowLabel(5)->text();
    ButtonOf(dialog, "highPlus")->click(); // + 1 % of 80
    EXPECT_EQ(dialog.FlowLabel(5)->text(), PrintfText::Format("%.2f", top.toDouble() + 0.8));
    ButtonOf(dialog, "flowFull")->click();
    EXPECT_EQ(dialog.FlowLabel(5)->text(), QStringLiteral("80.00"));
    EXPECT_EQ(dialog.FlowLabel(0)->text(), QStringLiteral("0.00"));
    ButtonOf(dialog, "flowAuto")->click();
    EXPECT_EQ(dialog.FlowLabel(5)->text(),
        PrintfText::Format("%.2f", dialog.HighEdit()->text().toDouble()));

    // Opening, and the row list taking the focus, select no row: the cursor stays mid-graph.
    const int middle = dialog.Plot().CursorRow();
    EXPECT_NEAR(middle, 50, 1); // 100 seconds across: row 50 is the middle
    QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(dialog.RowList(), &focus);
    EXPECT_EQ(dialog.Plot().CursorRow(), middle);
    EXPECT_TRUE(dialog.RowList()->selectionModel()->selectedIndexes().isEmpty());

    dialog.SelectRow(69); // row 70: scrolls 50 rows back from it
    EXPECT_EQ(dialog.Plot().FirstRow(), 20);
    EXPECT_EQ(dialog.TimeLabel(0)->text(), QStringLiteral("12:30:20 PM"));

    ButtonOf(dialog, "timeZoomOut")->click();
    EXPECT_EQ(dialog.RangeCombo()->currentText(), QStringLiteral("200"));
    EXPECT_EQ(dialog.DivisionLabel()->text(), QStringLiteral("20 Seconds/Div"));
    ButtonOf(dialog, "timeZoomOut")->click();
    EXPECT_EQ(dialog.RangeCombo()->currentText(), QStringLiteral("10"));
    EXPECT_EQ(dialog.UnitsCombo()->currentText(), QStringLiteral("Minutes"));
    ButtonOf(dialog, "timeFull")->click();
    EXPECT_EQ(dialog.RangeCombo()->currentText(), QStringLiteral("100"));
    EXPECT_EQ(dialog.UnitsCombo()->currentText(), QStringLiteral("Seconds"));
    dialog.UnitsCombo()->setCurrentIndex(2);
    Q_EMIT dialog.UnitsCombo()->activated(2);
    EXPECT_EQ(dialog.DivisionLabel()->text(), QStringLiteral("10 Hours/Div"));
    dialog.accept();
    EXPECT_FALSE(dialog.Plot().GraphReady());
}

TEST(ElogDialog, AxisLabelsInsideAndApart)
{
    CElogGraph dialog(FullLog(400, 30));
    for (QSize size : { QSize(900, 700), QSize(1200, 800), dialog.minimumSizeHint() }) {
        dialog.resize(size);
        dialog.show();
        QApplication::processEvents();
        SCOPED_TRACE(size.width());
        const QRect window = dialog.rect();
        std::vector<QLabel *> labels;
        for (int k = 0; k < 11; ++k)
            labels.push_back(dialog.TimeLabel(k));
        for (int k = 0; k < 6; ++k)
            labels.push_back(dialog.FlowLabel(k));
        labels.push_back(dialog.DivisionLabel());
        labels.push_back(dialog.UnitsLabel());
        for (QLabel *label : labels) {
            // Nothing cut by the edge of the plot's panel either.
            QWidget *panel = label->parentWidget();
            EXPECT_TRUE(panel->rect().contains(label->geometry())) << qPrintable(label->text());
        }
        for (QLabel *label : labels) {
            const QRect r(label->mapTo(&dialog, QPoint(0, 0)), label->size());
            EXPECT_TRUE(window.contains(r)) << qPrintable(label->text());
            // The text fits its label.
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << qPrintable(label->text());
        }
        for (int k = 0; k + 2 < 11; ++k) {
            EXPECT_FALSE(
                dialog.TimeLabel(k)->geometry().intersects(dialog.TimeLabel(k + 2)->geometry()));
            EXPECT_FALSE(
                dialog.TimeLabel(k)->geometry().intersects(dialog.TimeLabel(k + 1)->geometry()));
        }
        for (int k = 0; k + 1 < 6; ++k)
            EXPECT_FALSE(
                dialog.FlowLabel(k)->geometry().intersects(dialog.FlowLabel(k + 1)->geometry()));
    }
    const QString dir = qEnvironmentVariable("TARVIK_SHOTS");
    if (!dir.isEmpty()) {
        dialog.SelectRow(300);
        dialog.grab().save(QDir(dir).filePath(QStringLiteral("elog-graph.png")));
    }
}
