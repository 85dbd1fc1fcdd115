#pragma once

// Commands the main frame routes to the active view; a menu item is enabled only when the
// active view handles its command.
enum class AppCommand {
    Save,
    SaveAs,
    Print,
    PrintPreview,
    Close,
    Convert,
    Enter,
    Up,
    Down,
    Undo,
    Cut,
    Copy,
    Paste,
    NextPane,
    PrevPane,
    ExportPdf,
};
