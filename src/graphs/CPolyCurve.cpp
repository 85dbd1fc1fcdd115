#include "graphs/CPolyCurve.h"

#include "graphs/CurveGraph.h"
#include "graphs/GraphArea.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

CPolyCurve::CPolyCurve(const CurveSource &source, QWidget *parent)
    : CPolyCurve(CurveGraph::Kind::PolyCurve, source, parent)
{
}

CPolyCurve::CPolyCurve(CurveGraph::Kind kind, const CurveSource &source, QWidget *parent)
    : CurveGraphDialog(source, parent)
{
    setWindowTitle(QStringLiteral("Sensor Curve Graph"));
    auto *polynomials = Group(QStringLiteral("Polynomials"), this);
    auto *groupLayout = new QVBoxLayout(polynomials);
    const QStringList lines = CurveGraph::PrimaryList(kind, m_source);
    groupLayout->addWidget(MakeList(
        kPrimaryList, QString(), LetterLabels(false), lines, int(lines.size()), polynomials));
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
    Redraw();
}

GraphPicture CPolyCurve::BuildPicture() const
{
    return CurveGraph::SensorCurve(ListLines(kPrimaryList));
}
