#pragma once

#include <QString>

// The user guide shown by Help > User Guide, taken from the README's "User guide" section (the
// README and its pictures are built into the program, so the guide reads the same offline and
// wherever the program is installed). GUI-free.
class UserGuide
{
public:
    // The guide as Markdown, from the README text: the section's body under the title
    // "User Guide", without the paragraphs written for developers (those naming scripts/);
    // empty when the README has no such section.
    static QString FromReadme(const QString &readme);
};
