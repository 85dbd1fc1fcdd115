#include "base/UserMessage.h"

#include "base/Globals.h"

#include <QCoreApplication>
#include <QList>
#include <QPair>

#include <cstdio>

namespace {
UserMessage::Handler &CurrentHandler()
{
    static UserMessage::Handler handler = [](const QString &text, const QString &caption) {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(caption), qPrintable(text));
    };
    return handler;
}

UserMessage::Handler &CurrentInformHandler()
{
    static UserMessage::Handler handler;
    return handler;
}

QList<QPair<QString, QString>> &PendingMessages()
{
    static QList<QPair<QString, QString>> pending;
    return pending;
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
    PendingMessages().append({ text, caption });
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { ShowPending(); }, Qt::QueuedConnection);
    else
        ShowPending();
}

void UserMessage::ShowPending()
{
    // A message box shown here runs the event loop, where a queued call may show the rest: each
    // message is taken off the queue before it is shown, so none is shown twice.
    while (!PendingMessages().isEmpty()) {
        const QPair<QString, QString> message = PendingMessages().takeFirst();
        Show(message.first, message.second);
    }
}

UserMessage::Handler UserMessage::SetHandler(Handler handler)
{
    Handler old = CurrentHandler();
    CurrentHandler() = std::move(handler);
    return old;
}

void UserMessage::Inform(const QString &text, const QString &caption)
{
    if (!CurrentInformHandler()) {
        Show(text, caption);
        return;
    }
    CurrentInformHandler()(text, caption.isEmpty() ? QString::fromLatin1(kAppTitle) : caption);
}

UserMessage::Handler UserMessage::SetInformHandler(Handler handler)
{
    Handler old = CurrentInformHandler();
    CurrentInformHandler() = std::move(handler);
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
