#include "app/FocusEdit.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <algorithm>

namespace {
bool ClipboardHasText()
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    return data && data->hasText();
}

// The line edit behind a field: the field itself, or the one inside an editable choice list or
// a number box.
QLineEdit *LineEditOf(QWidget *focus)
{
    if (auto *edit = qobject_cast<QLineEdit *>(focus))
        return edit;
    if (auto *combo = qobject_cast<QComboBox *>(focus))
        return combo->isEditable() ? combo->lineEdit() : nullptr;
    if (qobject_cast<QAbstractSpinBox *>(focus))
        return focus->findChild<QLineEdit *>();
    return nullptr;
}

// The selected rows of a list or table, cells of a row joined by tabs, rows by line ends.
QString SelectedRows(const QAbstractItemView *view)
{
    const QItemSelectionModel *selection = view->selectionModel();
    if (!selection || !view->model())
        return QString();
    QModelIndexList indexes = selection->selectedIndexes();
    std::sort(indexes.begin(), indexes.end(), [](const QModelIndex &a, const QModelIndex &b) {
        return a.row() != b.row() ? a.row() < b.row() : a.column() < b.column();
    });
    QStringList rows;
    int lastRow = -1;
    for (const QModelIndex &index : std::as_const(indexes)) {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (index.row() != lastRow)
            rows << text;
        else
            rows.last() += QLatin1Char('\t') + text;
        lastRow = index.row();
    }
    return rows.join(QLatin1Char('\n'));
}

template <typename TextBox> bool TextBoxCanDo(AppCommand command, const TextBox *box)
{
    const bool selected = box->textCursor().hasSelection();
    switch (command) {
    case AppCommand::Copy:
        return selected;
    case AppCommand::Cut:
        return selected && !box->isReadOnly();
    case AppCommand::Paste:
        return !box->isReadOnly() && box->canPaste();
    case AppCommand::Undo:
        return !box->isReadOnly() && box->document()->isUndoAvailable();
    default:
        return false;
    }
}

template <typename TextBox> void TextBoxDo(AppCommand command, TextBox *box)
{
    switch (command) {
    case AppCommand::Copy:
        box->copy();
        break;
    case AppCommand::Cut:
        box->cut();
        break;
    case AppCommand::Paste:
        box->paste();
        break;
    case AppCommand::Undo:
        box->undo();
        break;
    default:
        break;
    }
}
} // namespace

bool FocusEdit::CanDo(AppCommand command, QWidget *focus)
{
    if (!focus || !focus->isEnabled())
        return false;
    if (QLineEdit *edit = LineEditOf(focus)) {
        const bool hidden = edit->echoMode() != QLineEdit::Normal;
        switch (command) {
        case AppCommand::Copy:
            return edit->hasSelectedText() && !hidden;
        case AppCommand::Cut:
            return edit->hasSelectedText() && !hidden && !edit->isReadOnly();
        case AppCommand::Paste:
            return !edit->isReadOnly() && ClipboardHasText();
        case AppCommand::Undo:
            return !edit->isReadOnly() && edit->isUndoAvailable();
        default:
            return false;
        }
    }
    if (auto *text = qobject_cast<QTextEdit *>(focus))
        return TextBoxCanDo(command, text);
    if (auto *plain = qobject_cast<QPlainTextEdit *>(focus))
        return TextBoxCanDo(command, plain);
    if (command != AppCommand::Copy)
        return false;
    if (auto *combo = qobject_cast<QComboBox *>(focus))
        return !combo->currentText().isEmpty();
    if (auto *list = qobject_cast<QAbstractItemView *>(focus))
        return list->selectionModel() && list->selectionModel()->hasSelection();
    return false;
}

bool FocusEdit::Do(AppCommand command, QWidget *focus)
{
    if (!CanDo(command, focus))
        return false;
    if (QLineEdit *edit = LineEditOf(focus)) {
        switch (command) {
        case AppCommand::Copy:
            edit->copy();
            break;
        case AppCommand::Cut:
            edit->cut();
            break;
        case AppCommand::Paste:
            edit->paste();
            break;
        case AppCommand::Undo:
            edit->undo();
            break;
        default:
            break;
        }
        return true;
    }
    if (auto *text = qobject_cast<QTextEdit *>(focus)) {
        TextBoxDo(command, text);
        return true;
    }
    if (auto *plain = qobject_cast<QPlainTextEdit *>(focus)) {
        TextBoxDo(command, plain);
        return true;
    }
    if (auto *combo = qobject_cast<QComboBox *>(focus)) {
        QApplication::clipboard()->setText(combo->currentText());
        return true;
    }
    if (auto *list = qobject_cast<QAbstractItemView *>(focus)) {
        QApplication::clipboard()->setText(SelectedRows(list));
        return true;
    }
    return false;
}
