#include "graphs/CQXPolyLine.h"

#include "graphs/CurveGraph.h"
#include "graphs/GraphArea.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

CQXPolyLine::CQXPolyLine(const CurveSource &source, QWidget *parent)
    : CurveGraphDialog(source, parent)
{
    setWindowTitle(QStringLiteral("Linear Output Graph"));
    auto *polynomials = Group(QStringLiteral("Polynomials"), this);
    auto *groupLayout = new QVBoxLayout(polynomials);
    const QStringList lines = CurveGraph::PrimaryList(CurveGraph::Kind::QXPolyLine, m_source);
    groupLayout->addWidget(MakeList(
        kPrimaryList, QString(), LetterLabels(true), lines, int(lines.size()), polynomials));
    groupLayout->addStretch();

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *left = new QVBoxLayout;
    left->addWidget(polynomials, 1);
    left->addWidget(ok);
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(m_area, 1);
    m_area->setMinimumSize(640, 520);
    Redraw();
}

GraphPicture CQXPolyLine::BuildPicture() const
{
    return CurveGraph::QXLinearOutput(m_source);
}
