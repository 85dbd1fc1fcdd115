#include "terminal/TermKeys.h"

#include <QKeyEvent>

// Keys of the program-wide accelerator table: the main frame turns them into commands, so they
// never reach the meter as characters, even when no main frame is there to take them.
bool TermKeys::IsAccelerator(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers()
        & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    if (mods & (Qt::AltModifier | Qt::MetaModifier))
        return true; // menu keys (Alt+Backspace is Undo); they produce no character
    if (mods == Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_N:
        case Qt::Key_O:
        case Qt::Key_S:
        case Qt::Key_P:
        case Qt::Key_C:
        case Qt::Key_V:
        case Qt::Key_X:
        case Qt::Key_Z:
        case Qt::Key_Q:
        case Qt::Key_Insert:
            return true;
        default:
            break;
        }
    }
    // Close (Ctrl+W, Ctrl+F4), Save As (Ctrl+Shift+S) and the new-window keys (Ctrl+Shift+T,
    // K, D, Q, M).
    if (mods == Qt::ControlModifier && (key == Qt::Key_W || key == Qt::Key_F4))
        return true;
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier)
        && (key == Qt::Key_T || key == Qt::Key_K || key == Qt::Key_D || key == Qt::Key_Q
            || key == Qt::Key_M || key == Qt::Key_S))
        return true;
    if (mods == Qt::ShiftModifier && (key == Qt::Key_Insert || key == Qt::Key_Delete))
        return true;
    return key == Qt::Key_F6 || key == Qt::Key_Up || key == Qt::Key_Down;
}

QByteArray TermKeys::Typed(const QKeyEvent *event, bool *passOn)
{
    *passOn = false;
    const int key = event->key();
    if (IsAccelerator(event) || key == Qt::Key_Delete) {
        *passOn = true; // the Delete key types no character either
        return QByteArray();
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        return QByteArray(1, '\r');
    if ((event->modifiers() & Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z)
        return QByteArray(1, char(key - Qt::Key_A + 1)); // control codes 1..26, whatever the text
    QByteArray bytes;
    for (const QChar ch : event->text())
        bytes += char(ch.unicode() & 0xFF);
    return bytes;
}
