#include "graphs/CPolyLine.h"

#include "graphs/GraphArea.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

CurveGraph::Traces CPolyLine::s_traces;

CPolyLine::CPolyLine(const CurveSource &source, QWidget *parent)
    : CurveGraphDialog(source, parent)
{
    setWindowTitle(QStringLiteral("Linear Output Graph"));
    s_traces = CurveGraph::Traces {};

    auto *polynomials = Group(QStringLiteral("Polynomials"), this);
    auto *polyLayout = new QHBoxLayout(polynomials);
    polyLayout->addWidget(MakeList(kPrimaryList, QStringLiteral("Primary"), LetterLabels(true),
        CurveGraph::PrimaryList(CurveGraph::Kind::PolyLine, m_source), 13, polynomials));
    polyLayout->addWidget(MakeList(kSecondaryList, QStringLiteral("Secondary"), LetterLabels(false),
        CurveGraph::SecondaryList(m_source), 13, polynomials));

    auto *pointWise = Group(QStringLiteral("Point-Wise"), this);
    auto *pointLayout = new QVBoxLayout(pointWise);
    QStringList percent;
    for (int q = 0; q <= 20; ++q)
        percent << QString::number(q * 5) + QStringLiteral("%");
    pointLayout->addWidget(MakeList(
        kPointWiseList, QString(), percent, CurveGraph::PointWiseList(m_source), 13, pointWise));

    auto *exit = new QPushButton(QStringLiteral("Exit"), this);
    exit->setDefault(true);
    connect(exit, &QPushButton::clicked, this, &QDialog::accept);

    auto *lists = new QHBoxLayout;
    lists->addWidget(polynomials, 2);
    lists->addWidget(pointWise, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(BuildTraceGroup(), 1);
    bottom->addWidget(exit, 0, Qt::AlignBottom);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addWidget(m_area, 1);
    layout->addLayout(bottom);
    m_area->setMinimumSize(640, 500);
    Redraw();
}

QWidget *CPolyLine::BuildTraceGroup()
{
    auto *group = Group(QStringLiteral("Trace On/Off Control"), this);
    auto *grid = new QGridLayout(group);
    struct Row
    {
        int id;
        const char *caption;
        const char *color;
        void (CPolyLine::*handler)();
    };
    const Row rows[] = {
        { kRedButton, "Red - Primary Coefficients Only", "#c80000", &CPolyLine::OnRed },
        { kYellowButton, "Yellow - Primary and Secondary Coefficients", "#ffff00",
            &CPolyLine::OnYellow },
        { kGreenButton, "Green - Primary Coefficients and Point-Wise Segments", "#00ff00",
            &CPolyLine::OnGreen },
    };
    int row = 0;
    for (const Row &r : rows) {
        auto *button = new QPushButton(group);
        button->setFixedSize(22, 18);
        button->setToolTip(QString::fromLatin1(r.caption));
        button->setStyleSheet(
            QStringLiteral("QPushButton { background: %1; border: 1px solid gray; }")
                .arg(QLatin1String(r.color)));
        Register(r.id, button);
        connect(button, &QPushButton::clicked, this, r.handler);
        grid->addWidget(button, row, 0);
        grid->addWidget(new QLabel(QString::fromLatin1(r.caption), group), row, 1);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    return group;
}

void CPolyLine::OnRed()
{
    s_traces.red = !s_traces.red;
    Redraw();
}

void CPolyLine::OnYellow()
{
    s_traces.yellow = !s_traces.yellow;
    Redraw();
}

void CPolyLine::OnGreen()
{
    s_traces.green = !s_traces.green;
    Redraw();
}

GraphPicture CPolyLine::BuildPicture() const
{
    return CurveGraph::LinearOutput(
        m_source, ListLines(kSecondaryList), ListLines(kPointWiseList), s_traces);
}
