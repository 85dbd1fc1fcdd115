#pragma once

#include <QString>

#include <functional>

// Modal messages to the user: Show (OK button only; Inform for a success) and Ask (Yes and No). The
// GUI-free code calls them; the widget layer installs handlers that open message boxes owned by the
// main window, and tests install ones that record what would have been shown and answer.
class UserMessage
{
public:
    using Handler = std::function<void(const QString &text, const QString &caption)>;

    static void Show(const QString &text, const QString &caption = QString());
    // Show, from the event loop once the current work is done: for what must be said after the
    // window that knows it has gone (the application says it). The message waits in a queue
    // until then, or until ShowPending, which the application calls before it ends, since an
    // Exit may leave the event loop before it comes round.
    static void ShowLater(const QString &text, const QString &caption = QString());
    // Shows now, in order, the messages ShowLater has queued and not shown yet.
    static void ShowPending();
    // Installs a handler and returns the one it replaces.
    static Handler SetHandler(Handler handler);
    // A message that reports success ("Meter stored the configuration"): shown with the
    // information icon where Show warns. Without a handler of its own it goes to Show's.
    static void Inform(const QString &text, const QString &caption = QString());
    // Inform, from the event loop as ShowLater does (the same queue, in order).
    static void InformLater(const QString &text, const QString &caption = QString());
    static Handler SetInformHandler(Handler handler);

    // A question before a step that replaces or writes data: true for Yes. With no handler
    // installed the question is printed and answered Yes, as the step ran before it was asked.
    using AskHandler = std::function<bool(const QString &text, const QString &caption)>;
    static bool Ask(const QString &text, const QString &caption = QString());
    static AskHandler SetAskHandler(AskHandler handler);
};
