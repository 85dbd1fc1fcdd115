#include "modbus/ModbusTrendView.h"

#include "graphs/GraphArea.h"
#include "graphs/GraphExporter.h"
#include "modbus/ModbusTrend.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

ModbusTrendView::ModbusTrendView(const ModbusTrend &trend, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_trend(trend)
{
    setWindowTitle(QStringLiteral("Modbus Flow Trend"));
    m_area = new GraphArea(this);
    m_area->setMinimumSize(640, 320);
    m_minutes = new QSpinBox(this);
    m_minutes->setRange(1, 24 * 60);
    m_minutes->setValue(kDefaultMinutes);
    m_minutes->setSuffix(QStringLiteral(" min"));
    connect(m_minutes, &QSpinBox::valueChanged, this, [this] { Refresh(); });

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Show the last"), this));
    bar->addWidget(m_minutes);
    bar->addStretch(1);
    GraphExporter::AttachMenu(m_area, m_area, windowTitle());
    bar->addWidget(GraphExporter::MenuButton(m_area, windowTitle(), this));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_area, 1);
    layout->addLayout(bar);
    resize(900, 480);
    Refresh();
}

TrendPlot::Window ModbusTrendView::Window() const
{
    const qint64 newest = m_trend.NewestMs();
    return TrendPlot::Window { newest > 0 ? newest : QDateTime::currentMSecsSinceEpoch(),
        qint64(m_minutes->value()) * 60 * 1000 };
}

void ModbusTrendView::Refresh()
{
    m_area->SetPicture(
        TrendPlot::Build(m_trend.Traces(), Window(), QStringLiteral("Flow rate by address")));
}
