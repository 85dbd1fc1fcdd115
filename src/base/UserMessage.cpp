#include "base/UserMessage.h"

#include "base/Globals.h"

#include <QCoreApplication>

#include <cstdio>

namespace {
UserMessage::Handler &CurrentHandler()
{
    static UserMessage::Handler handler = [](const QString &text, const QString &caption) {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(caption), qPrintable(text));
    };
    return handler;
}

UserMessage::AskHandler &CurrentAskHandler()
{
    static UserMessage::AskHandler handler;
    return handler;
}
} // namespace

void UserMessage::Show(const QString &text, const QString &caption)
{
    const QString title = caption.isEmpty() ? QString::fromLatin1(kAppTitle) : caption;
    if (CurrentHandler())
        CurrentHandler()(text, title);
}

void UserMessage::ShowLater(const QString &text, const QString &caption)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        Show(text, caption);
        return;
    }
    QMetaObject::invokeMethod(
        app, [text, caption] { Show(text, caption); }, Qt::QueuedConnection);
}

UserMessage::Handler UserMessage::SetHandler(Handler handler)
{
    Handler old = CurrentHandler();
    CurrentHandler() = std::move(handler);
    return old;
}

bool UserMessage::Ask(const QString &text, const QString &caption)
{
    const QString title = caption.isEmpty() ? QString::fromLatin1(kAppTitle) : caption;
    if (CurrentAskHandler())
        return CurrentAskHandler()(text, title);
    std::fprintf(stderr, "[%s] %s (Yes)\n", qPrintable(title), qPrintable(text));
    return true;
}

UserMessage::AskHandler UserMessage::SetAskHandler(AskHandler handler)
{
    AskHandler old = CurrentAskHandler();
    CurrentAskHandler() = std::move(handler);
    return old;
}
