#include "base/WindowFit.h"

#include "base/ScreenFit.h"

#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>

namespace {
const char *const kWrapped = "tarvikWrapped";
} // namespace

QScrollArea *WindowFit::WrapLayout(QWidget *window)
{
    QLayout *layout = window->layout();
    if (!layout || window->property(kWrapped).toBool())
        return nullptr;
    window->setProperty(kWrapped, true);
    auto *content = new QWidget;
    content->setLayout(layout); // takes the layout and the widgets it manages
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    auto *outer = new QVBoxLayout(window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    // Children added while the window is being shown are not shown with it.
    content->show();
    scroll->show();
    return scroll;
}

void WindowFit::FitToScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen || window->maximumSize() == window->minimumSize())
        return;
    // Room for the desktop's title bar and borders, which the window does not know before it
    // is first shown.
    QSize decoration = window->frameGeometry().size() - window->size();
    decoration = decoration.expandedTo(QSize(2, 2));
    if (decoration.height() < 24)
        decoration.setHeight(32);
    const QRect available = screen->availableGeometry();
    const QRect room(available.topLeft(), available.size() - decoration);
    QRect wanted(window->pos(), window->size());
    if (!ScreenFit::Fits(window->minimumSizeHint(), room)) {
        if (QScrollArea *scroll = WrapLayout(window)) {
            window->setMinimumSize(0, 0);
            // Wide enough for the content beside its vertical scroll bar.
            const int width = scroll->widget()->minimumSizeHint().width()
                + scroll->verticalScrollBar()->sizeHint().width();
            wanted.setWidth(std::max(wanted.width(), width));
        }
    }
    if (!window->testAttribute(Qt::WA_Moved)) {
        // Not placed yet: centred over its parent, as a dialog is, or on the screen.
        const QWidget *over = window->parentWidget() ? window->parentWidget()->window() : nullptr;
        const QRect centre = over ? over->geometry() : available;
        wanted.moveCenter(centre.center());
    }
    const QRect placed = ScreenFit::Place(wanted, room);
    if (placed.size() != window->size())
        window->resize(placed.size());
    window->move(placed.topLeft());
}
