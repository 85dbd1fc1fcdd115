// The four curve graph dialogs: their lists, the trace buttons and flags, labels inside the graph
// area at every size, and the Kelvane form's buttons that open them.
#include "graphs/CurveGraphDialog.h"
#include "graphs/GraphArea.h"

#include "base/CDocument.h"
#include "base/Globals.h"
#include "meter/ZarnFormView.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/ZarnQXFormView.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

CurveSource Source(int curveFit)
{
    CurveSource s;
    s.fullScale = QStringLiteral("80.000000");
    s.cFactor = QStringLiteral("1.000000");
    s.zeroOffset = QStringLiteral("0.000000");
    s.zeroCutoff = QStringLiteral("2.000000");
    for (int i = 0; i < 10; ++i) {
        s.primary << QString::number(i == 1 ? 1.1 : i == 2 ? -0.02 : 0.0, 'e', 8);
        s.secondary << QString::number(i == 0 ? 2.0 : 0.0, 'e', 8);
    }
    for (int q = 0; q <= 20; ++q)
        s.pointWise << QString::number(q == 0 ? 0.0 : (q % 4) * 0.75, 'f', 6);
    s.curveFit = curveFit;
    return s;
}

// Saves a screenshot where TARVIK_SHOTS points, for a person to look at.
void Shoot(QWidget *widget, const QString &name)
{
    const QString dir = qEnvironmentVariable("TARVIK_SHOTS");
    if (!dir.isEmpty())
        widget->grab().save(QDir(dir).filePath(name));
}

// Every label of the picture lies inside the graph area.
void ExpectNothingClipped(const GraphArea *area)
{
    const QRectF inside = QRectF(area->rect());
    for (const GraphPicture::Text &t : area->Picture().texts) {
        const QRectF r = area->TextRect(t);
        EXPECT_TRUE(inside.contains(r))
            << qPrintable(t.text) << " at " << r.x() << "," << r.y() << " " << r.width() << "x"
            << r.height() << " in " << area->width() << "x" << area->height();
    }
}

QStringList Lines(const CurveGraphDialog &dialog, int id)
{
    return dialog.ListLines(id);
}

} // namespace

TEST(CurveDialogs, ListsCaptionsAndNothingClipped)
{
    const CurveSource s = Source(2);
    using Kind = CurveGraph::Kind;
    CurveGraphDialog curve(Kind::PolyCurve, s);
    CurveGraphDialog qxCurve(Kind::QXPolyCurve, s);
    CurveGraphDialog line(Kind::PolyLine, s);
    CurveGraphDialog qxLine(Kind::QXPolyLine, s);
    struct Case
    {
        CurveGraphDialog *dialog;
        const char *caption;
        const char *shot;
        QStringList primary;
    };
    const QStringList parameters { s.cFactor, s.zeroOffset, s.zeroCutoff };
    const Case cases[] = {
        { &curve, "Sensor Curve Graph", "poly-curve.png", s.primary + parameters },
        { &qxCurve, "Sensor Curve Graph", "qx-poly-curve.png",
            s.primary + QStringList { s.zeroOffset, s.cFactor, s.zeroCutoff } },
        { &line, "Linear Output Graph", "poly-line.png", s.primary + parameters },
        { &qxLine, "Linear Output Graph", "qx-poly-line.png", s.primary + parameters },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.caption);
        EXPECT_EQ(c.dialog->windowTitle(), QString::fromLatin1(c.caption));
        EXPECT_EQ(Lines(*c.dialog, 1053), c.primary);
        ASSERT_NE(c.dialog->Area(), nullptr);
        EXPECT_EQ(c.dialog->Control(1057), c.dialog->Area());
        c.dialog->show();
        QApplication::processEvents();
        ExpectNothingClipped(c.dialog->Area());
        Shoot(c.dialog, QString::fromLatin1(c.shot));
        for (QSize size : { QSize(300, 250), QSize(900, 400), QSize(400, 900) }) {
            c.dialog->Area()->resize(size);
            ExpectNothingClipped(c.dialog->Area());
        }
        // Something was drawn: the grid's blue shows in the area.
        const QImage image
            = c.dialog->Area()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int blue = 0;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2) {
                const QRgb p = image.pixel(x, y);
                blue += qBlue(p) > 200 && qRed(p) < 80 && qGreen(p) < 80;
            }
        }
        EXPECT_GT(blue, 100);
        c.dialog->hide();
    }
    EXPECT_EQ(Lines(line, 1054), s.secondary); // curve fit 2
    EXPECT_TRUE(Lines(line, 1055).isEmpty());
    CurveGraphDialog pointWise(CurveGraph::Kind::PolyLine, Source(3));
    EXPECT_TRUE(Lines(pointWise, 1054).isEmpty());
    EXPECT_EQ(Lines(pointWise, 1055), Source(3).pointWise);
    auto *list = qobject_cast<QTreeWidget *>(pointWise.Control(1055));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->topLevelItem(20)->text(0), QStringLiteral("100%"));
}

TEST(CurveDialogs, TraceButtonsFlipProcessWideFlags)
{
    const auto traceColors = [](const CurveGraphDialog &dialog) {
        std::vector<GraphPicture::Color> colors;
        for (const GraphPicture::Polyline &l : dialog.Area()->Picture().lines) {
            if (l.width == CurveGraph::kTracePen)
                colors.push_back(l.color);
        }
        return colors;
    };
    using Colors = std::vector<GraphPicture::Color>;
    {
        CurveGraphDialog dialog(CurveGraph::Kind::PolyLine, Source(2));
        EXPECT_EQ(traceColors(dialog), (Colors { CurveGraph::kRed, CurveGraph::kYellow }));
        qobject_cast<QPushButton *>(dialog.Control(CurveGraphDialog::kRedButton))->click();
        EXPECT_EQ(traceColors(dialog), (Colors { CurveGraph::kYellow })); // redrawn at once
        EXPECT_FALSE(CurveGraphDialog::TraceFlags().red);
        EXPECT_TRUE(CurveGraphDialog::TraceFlags().yellow);
        qobject_cast<QPushButton *>(dialog.Control(CurveGraphDialog::kYellowButton))->click();
        qobject_cast<QPushButton *>(dialog.Control(CurveGraphDialog::kGreenButton))->click();
        EXPECT_TRUE(traceColors(dialog).empty());
    }
    // The flags outlive the dialog and are set on at the next opening.
    EXPECT_FALSE(CurveGraphDialog::TraceFlags().red);
    EXPECT_FALSE(CurveGraphDialog::TraceFlags().green);
    CurveGraphDialog again(CurveGraph::Kind::PolyLine, Source(3));
    EXPECT_TRUE(CurveGraphDialog::TraceFlags().red && CurveGraphDialog::TraceFlags().yellow
        && CurveGraphDialog::TraceFlags().green);
    EXPECT_EQ(traceColors(again), (Colors { CurveGraph::kRed, CurveGraph::kGreen }));
}

TEST(CurveDialogs, FormButtonsOpenTheGraphsWithTheFormsTexts)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    CDocument document;
    document.SetTitle(QStringLiteral("41A_Template.mtr"));
    ZarnFormView form(&document);
    form.Context().version = QStringLiteral(">= 4.1A");
    form.OnInitialUpdate();
    form.SetField(1018, QStringLiteral("120.5"));
    form.SetField(1036, QStringLiteral("1.25"));
    form.SetField(1037, QStringLiteral("0.1"));
    form.SetField(1053, QStringLiteral("3"));
    for (int i = 0; i < 10; ++i) {
        form.SetField(1047, QString::number(i * 0.5, 'e', 8));
        form.SetField(1057, QString::number(i * 0.25, 'e', 8));
    }
    for (int q = 0; q <= 20; ++q)
        form.SetField(1061, QString::number(q * 0.1, 'f', 6));
    form.SetField(1005, QStringLiteral("3"));

    struct Case
    {
        int button;
        const char *caption;
        std::function<void(QWidget *)> check;
    };
    const Case cases[] = {
        { 1042, "Sensor Curve Graph",
            [](QWidget *w) {
                auto *d = qobject_cast<CurveGraphDialog *>(w);
                ASSERT_NE(d, nullptr);
                EXPECT_EQ(d->GraphKind(), CurveGraph::Kind::PolyCurve);
                const QStringList lines = d->ListLines(1053);
                ASSERT_EQ(lines.size(), 13);
                EXPECT_EQ(lines.at(1), QString::number(0.5, 'e', 8));
                EXPECT_EQ(lines.mid(10), (QStringList { "1.25", "0.1", "3" }));
            } },
        { 1050, "Linear Output Graph",
            [](QWidget *w) {
                auto *d = qobject_cast<CurveGraphDialog *>(w);
                ASSERT_NE(d, nullptr);
                EXPECT_EQ(d->GraphKind(), CurveGraph::Kind::PolyLine);
                EXPECT_TRUE(d->ListLines(1054).isEmpty()); // curve fit 3: point-wise only
                ASSERT_EQ(d->ListLines(1055).size(), 21);
                EXPECT_EQ(d->ListLines(1055).at(20), QStringLiteral("2.000000"));
                EXPECT_FALSE(d->Area()->Picture().FindTexts(QStringLiteral("120.5")).empty());
            } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.caption);
        auto *button = qobject_cast<QPushButton *>(form.Control(c.button));
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->isEnabled());
        bool seen = false;
        QTimer::singleShot(0, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            seen = true;
            EXPECT_EQ(modal->windowTitle(), QString::fromLatin1(c.caption));
            c.check(modal);
            qobject_cast<QDialog *>(modal)->accept();
        });
        button->click();
        EXPECT_TRUE(seen);
    }
    ResetGlobals();
}

TEST(CurveDialogs, QuixalFormButtonsOpenTheQuixalGraphs)
{
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    QXMeterDoc document(QStringLiteral("1.4A"));
    ASSERT_TRUE(document.OnOpenDocument(QStringLiteral("Quixal.qxm")));
    document.SetTitle(QStringLiteral("Quixal.qxm"));
    ZarnQXFormView form(&document);
    form.show();
    form.OnInitialUpdate();
    // Typed into the form's controls: the graphs take them after moving them into the members.
    qobject_cast<QLineEdit *>(form.Control(1018))->setText(QStringLiteral("150.0"));
    qobject_cast<QLineEdit *>(form.Control(1036))->setText(QStringLiteral("1.5"));
    qobject_cast<QLineEdit *>(form.Control(1037))->setText(QStringLiteral("0.25"));
    qobject_cast<QLineEdit *>(form.Control(1053))->setText(QStringLiteral("10"));
    const QStringList coefficients = form.Members().Coefficients();
    ASSERT_EQ(coefficients.size(), 10);

    struct Case
    {
        QPushButton *button;
        const char *caption;
        std::function<void(CurveGraphDialog *)> check;
    };
    const Case cases[] = {
        { form.CurveButton(), "Sensor Curve Graph",
            [&](CurveGraphDialog *d) {
                EXPECT_EQ(d->GraphKind(), CurveGraph::Kind::QXPolyCurve);
                // Zero Offset, C Factor, Zero Cutoff % after the ten coefficients.
                EXPECT_EQ(d->ListLines(1053), (coefficients + QStringList { "0.25", "1.5", "10" }));
            } },
        { form.LinearButton(), "Linear Output Graph",
            [&](CurveGraphDialog *d) {
                EXPECT_EQ(d->GraphKind(), CurveGraph::Kind::QXPolyLine);
                EXPECT_EQ(d->ListLines(1053), (coefficients + QStringList { "1.5", "0.25", "10" }));
                // Top of the flow scale: 150 × (2 - 1.5) + 0.25; the trace flat to 0.5 V.
                EXPECT_FALSE(d->Area()->Picture().FindTexts(QStringLiteral("75.2")).empty());
                Shoot(d, QStringLiteral("qx-form-linear.png"));
            } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.caption);
        ASSERT_TRUE(c.button->isEnabled());
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<CurveGraphDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen = true;
            EXPECT_EQ(dialog->windowTitle(), QString::fromLatin1(c.caption));
            c.check(dialog);
            dialog->accept();
        });
        c.button->click();
        EXPECT_TRUE(seen);
    }
    // The form's document received what the form showed.
    EXPECT_EQ(form.GetField(1018), QStringLiteral("150.0"));
    ResetGlobals();
}
