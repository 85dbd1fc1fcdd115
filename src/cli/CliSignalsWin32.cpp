#include "cli/CliSignals.h"

#include <QWinEventNotifier>

#include <atomic>
#include <cstdio>
#include <io.h>
#include <iostream>
#include <string>
#include <windows.h>

// The Win32 half: the console control handler runs on a thread of its own, so it only sets a
// flag and an event, which a QWinEventNotifier hands to the event loop.
namespace {
HANDLE g_interruptEvent = nullptr;
std::atomic<bool> g_interruptPending { false };

BOOL WINAPI OnConsoleControl(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        g_interruptPending = true;
        if (g_interruptEvent)
            ::SetEvent(g_interruptEvent);
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

CliSignals::CliSignals(QObject *parent)
    : QObject(parent)
{
    g_interruptEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_interruptEvent)
        return;
    auto *notifier = new QWinEventNotifier(g_interruptEvent, this);
    connect(notifier, &QWinEventNotifier::activated, this, &CliSignals::Drain);
    m_notifier = notifier;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CliSignals::~CliSignals()
{
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    delete m_notifier;
    if (g_interruptEvent)
        ::CloseHandle(g_interruptEvent);
    g_interruptEvent = nullptr;
}

void CliSignals::Drain()
{
    if (g_interruptEvent)
        ::ResetEvent(g_interruptEvent);
    g_interruptPending = false;
    m_interrupted = true;
    Q_EMIT Interrupt();
}

bool CliSignals::Interrupted()
{
    if (!m_interrupted && g_interruptPending)
        Drain();
    return m_interrupted;
}

namespace {
FILE *File(CliSignals::Stream stream)
{
    switch (stream) {
    case CliSignals::Stream::Input:
        return stdin;
    case CliSignals::Stream::Output:
        return stdout;
    case CliSignals::Stream::Error:
        break;
    }
    return stderr;
}
} // namespace

bool CliSignals::IsTerminal(Stream stream)
{
    return ::_isatty(::_fileno(File(stream))) != 0;
}

bool CliSignals::IsOpen(Stream stream)
{
    const int fd = ::_fileno(File(stream));
    return fd >= 0 && ::_get_osfhandle(fd) != -1;
}

bool CliSignals::ReadLine(QByteArray *line)
{
    // A console read ends when Ctrl+C comes, and the handler has set the flag by then.
    line->clear();
    std::string text;
    const bool read = static_cast<bool>(std::getline(std::cin, text));
    if (g_interruptPending || m_interrupted)
        return false;
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    *line = QByteArray::fromStdString(text);
    return read;
}
