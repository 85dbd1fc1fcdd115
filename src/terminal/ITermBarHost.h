#pragma once

#include "terminal/TermCapture.h"

#include <QString>

class CTermDoc;

// What the terminal's bottom bar asks of the window it sits in: the document its toggles change,
// capture and paste, and the status line. The terminal view gives it; the bar knows no more of
// the view.
class ITermBarHost
{
public:
    virtual ~ITermBarHost() = default;
    virtual CTermDoc *Document() const = 0;
    // false when the capture did not start (the user was told why).
    virtual bool StartCapture(const QString &path, TermCapture::Mode mode) = 0;
    virtual void StopCapture() = 0;
    virtual bool PasteActive() const = 0;
    virtual void CancelPaste() = 0;
    virtual QString StatusText() const = 0;
};
