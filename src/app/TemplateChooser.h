#pragma once

#include <QString>

// Which default file the New Kelvane meter form command opens, chosen from the working
// firmware version and what the connected meter said about itself.
class TemplateChooser
{
public:
    // Sets g_DocKind to 1 and, where the rule says so, g_DocVersion; returns the template's file
    // name, or empty when no window is to be opened (a Quixal meter is connected).
    static QString KelvaneTemplate();
};
