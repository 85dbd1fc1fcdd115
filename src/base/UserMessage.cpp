#include "base/UserMessage.h"

#include "base/AppTitle.h"

#include <QCoreApplication>
#include <QList>

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

struct PendingMessage
{
    QString text;
    QString caption;
    bool inform = false;
};

QList<PendingMessage> &PendingMessages()
{
    static QList<PendingMessage> pending;
    return pending;
}

void QueueMessage(const QString &text, const QString &caption, bool inform)
{
    PendingMessages().append({ text, caption, inform });
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { UserMessage::ShowPending(); }, Qt::QueuedConnection);
    else
        UserMessage::ShowPending();
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
    QueueMessage(text, caption, false);
}

void UserMessage::InformLater(const QString &text, const QString &caption)
{
    QueueMessage(text, caption, true);
}

void UserMessage::ShowPending()
{
    // A message box shown here runs the event loop, where a queued call may show the rest: each
    // message is taken off the queue before it is shown, so none is shown twice.
    while (!PendingMessages().isEmpty()) {
        const PendingMessage message = PendingMessages().takeFirst();
        if (message.inform)
            Inform(message.text, message.caption);
        else
            Show(message.text, message.caption);
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
