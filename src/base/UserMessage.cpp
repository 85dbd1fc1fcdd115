#include "base/UserMessage.h"

#include "base/Globals.h"

#include <cstdio>

namespace {
UserMessage::Handler &CurrentHandler()
{
    static UserMessage::Handler handler = [](const QString &text, const QString &caption) {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(caption), qPrintable(text));
    };
    return handler;
}
} // namespace

void UserMessage::Show(const QString &text, const QString &caption)
{
    const QString title = caption.isEmpty() ? QString::fromLatin1(kAppTitle) : caption;
    if (CurrentHandler())
        CurrentHandler()(text, title);
}

UserMessage::Handler UserMessage::SetHandler(Handler handler)
{
    Handler old = CurrentHandler();
    CurrentHandler() = std::move(handler);
    return old;
}
