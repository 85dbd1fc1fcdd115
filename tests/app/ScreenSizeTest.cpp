// Every window and dialog of the program on the screen this binary is started on: CTest starts
// it on a 1366 x 768 screen, on a 1920 x 1080 screen at 150 % scaling, and on an 800 x 480
// screen (smaller than any the program is meant for). Each child frame lies inside the main
// window's work area and each dialog inside the screen's available area, with no caption cut
// short; a window too small for its content scrolls it. TARVIK_SHOT_DIR saves each as a PNG.
#include "app/CGuideDlg.h"
#include "app/CMainFrame.h"
#include "app/CSetup.h"
#include "app/CTarvikApp.h"
#include "app/CTechDlg.h"
#include "base/CChildFrame.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "datalog/CElogGraph.h"
#include "meter/ZarnFormView.h"
#include "meterqx/ZarnQXFormView.h"
#include "support/TestEnv.h"
#include "support/WidgetChecks.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QMdiArea>
#include <QScreen>
#include <QScrollArea>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

QString ShotName(const QString &name)
{
    const QString dir = qEnvironmentVariable("TARVIK_SHOT_DIR");
    if (dir.isEmpty())
        return QString();
    const QSize screen = QGuiApplication::primaryScreen()->size();
    return QDir(dir).filePath(
        QStringLiteral("%1x%2-%3.png").arg(screen.width()).arg(screen.height()).arg(name));
}

void ExpectInside(const QRect &outer, const QRect &inner, const QString &what)
{
    EXPECT_TRUE(outer.contains(inner))
        << qPrintable(what) << " at " << inner.x() << "," << inner.y() << " " << inner.width()
        << "x" << inner.height() << " outside " << outer.width() << "x" << outer.height();
}

// Runs open (which shows a modal dialog) and checks the dialog it shows, then closes it.
void CheckModal(const QString &name, const std::function<void()> &open)
{
    SCOPED_TRACE(qPrintable(name));
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = true;
        const QRect available = dialog->screen()->availableGeometry();
        ExpectInside(available, dialog->frameGeometry(), name);
        ExpectNothingClipped(dialog);
        if (const QString shot = ShotName(name); !shot.isEmpty())
            dialog->grab().save(shot);
        dialog->reject();
    });
    open();
    EXPECT_TRUE(seen) << "no dialog shown";
}

class Screens : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        TestEnv::ReseedWorkDir();
        QDir::setCurrent(TestEnv::WorkDir());
        m_oldHandler = UserMessage::SetHandler([](const QString &, const QString &) {});
        m_app = std::make_unique<CTarvikApp>(LinkTiming(), false);
        ASSERT_TRUE(m_app->InitInstance());
        Frame()->showMaximized();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        m_app.reset();
        UserMessage::SetHandler(m_oldHandler);
        ResetGlobals();
    }
    CMainFrame *Frame() const { return m_app->MainFrame(); }

    std::unique_ptr<CTarvikApp> m_app;
    UserMessage::Handler m_oldHandler;
};

TEST_F(Screens, EveryWindowFitsAndShowsItsCaptions)
{
    const QRect available = Frame()->screen()->availableGeometry();
    ExpectInside(available, Frame()->frameGeometry(), QStringLiteral("main window"));
    const struct
    {
        const char *name;
        void (CTarvikApp::*open)();
    } windows[] = {
        { "terminal", &CTarvikApp::OnNewTerminal },
        { "kelvane", &CTarvikApp::OnNewMeterForm },
        { "datalog", &CTarvikApp::OnNewDatalog },
        { "quixal", &CTarvikApp::OnNewQuixal },
        { "modbus", &CTarvikApp::OnNewModbus },
    };
    QMdiArea *area = Frame()->MdiArea();
    for (const auto &w : windows) {
        SCOPED_TRACE(w.name);
        (m_app.get()->*w.open)();
        QApplication::processEvents();
        auto *frame = qobject_cast<CChildFrame *>(area->activeSubWindow());
        ASSERT_NE(frame, nullptr);
        const QRect work = area->viewport()->rect();
        ExpectInside(work, frame->geometry(), QString::fromLatin1(w.name));
        // Where the frame is smaller than its view needs, the view scrolls instead of being cut.
        QWidget *view = frame->View();
        const QSize room = frame->widget()->size();
        const QSize needs = view->minimumSizeHint().expandedTo(view->minimumSize());
        if (needs.width() > room.width() || needs.height() > room.height()) {
            EXPECT_NE(frame->ViewScrollArea(), nullptr) << "cut off without scrolling";
        }
        ExpectNothingClipped(view);
        if (const QString shot = ShotName(QString::fromLatin1(w.name)); !shot.isEmpty()) {
            Frame()->grab().save(shot);
            frame->grab().save(ShotName(QStringLiteral("%1-frame").arg(QLatin1String(w.name))));
        }
        frame->close();
        QApplication::processEvents();
    }

    CheckModal(QStringLiteral("settings"), [this] { Frame()->OnSettings(); });
    CheckModal(QStringLiteral("about"), [this] { m_app->OnAppAbout(); });
    m_app->OnNewMeterForm();
    QApplication::processEvents();
    auto *form = qobject_cast<ZarnFormView *>(Frame()->ActiveView());
    ASSERT_NE(form, nullptr);
    CheckModal(QStringLiteral("kelvane-curve"), [form] { form->OnDisplayCurve(); });
    CheckModal(QStringLiteral("kelvane-linear"), [form] { form->OnDisplayLinear(); });
    CheckModal(QStringLiteral("convert"), [form] { form->OnCommand(AppCommand::Convert); });
    CheckModal(
        QStringLiteral("print-preview"), [form] { form->OnCommand(AppCommand::PrintPreview); });
    CheckModal(QStringLiteral("authorization"), [this] {
        CTechDlg dialog(Frame());
        dialog.exec();
    });
    CheckModal(QStringLiteral("elog-graph"), [this] {
        CElogGraph graph(ElogPlot::Inputs {}, Frame());
        graph.exec();
    });
    m_app->OnNewQuixal();
    QApplication::processEvents();
    auto *quixal = qobject_cast<ZarnQXFormView *>(Frame()->ActiveView());
    ASSERT_NE(quixal, nullptr);
    CheckModal(QStringLiteral("quixal-curve"), [quixal] { quixal->OnCurve(); });
    CheckModal(QStringLiteral("quixal-linear"), [quixal] { quixal->OnLinear(); });

    // The guide is a window beside the others, with its pictures built in.
    Frame()->OnUserGuide();
    CGuideDlg *guide = Frame()->GuideWindow();
    ASSERT_NE(guide, nullptr);
    QApplication::processEvents();
    ExpectInside(available, guide->frameGeometry(), QStringLiteral("user guide"));
    const QTextDocument *text = guide->Browser()->document();
    EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("Kelvane meter form")));
    const QVariant picture = text->resource(
        QTextDocument::ImageResource, QUrl(QStringLiteral("docs/screenshots/terminal.png")));
    EXPECT_FALSE(picture.value<QImage>().isNull()) << "picture not built in";
    if (const QString shot = ShotName(QStringLiteral("guide")); !shot.isEmpty())
        guide->grab().save(shot);
}

} // namespace
