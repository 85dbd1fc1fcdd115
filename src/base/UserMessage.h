#pragma once

#include <QString>

#include <functional>

// Modal messages to the user (OK button only). The GUI-free code calls Show; the widget layer
// installs a handler that opens a message box owned by the main window, and tests install one
// that records what would have been shown.
class UserMessage
{
public:
    using Handler = std::function<void(const QString &text, const QString &caption)>;

    static void Show(const QString &text, const QString &caption = QString());
    // Installs a handler and returns the one it replaces.
    static Handler SetHandler(Handler handler);
};
