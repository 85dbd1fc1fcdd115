// The terminal screen fed what a meter sends, in ticks cut at 0xFF bytes, and the
// identification scan over every screen that results.
#include "FuzzEnv.h"

#include "terminal/TermScreen.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    TermScreen screen;
    QString model, version, revision, number;
    for (const QByteArray &tick : FuzzEnv::Split(FuzzEnv::Bytes(data, size), '\xff', 64)) {
        screen.FeedTick(tick);
        if (screen.Row() < 0 || screen.Row() >= TermScreen::kRows || screen.Column() < 0
            || screen.Column() > TermScreen::kColumns
            || screen.Text().size() > TermScreen::kScreenSize)
            std::abort(); // the cursor and the text stay on the screen
        for (int row = -1; row <= TermScreen::kRows; ++row)
            (void)screen.RowText(row);
        for (const QRect &cells : screen.TakeRepaint()) {
            if (cells.left() < 0 || cells.top() < 0 || cells.right() >= TermScreen::kColumns
                || cells.bottom() >= TermScreen::kRows)
                std::abort();
        }
        TermScreen::ScanIdentification(screen.Text(), model, version, revision, number);
    }
    TermScreen::ScanIdentification(FuzzEnv::Bytes(data, size), model, version, revision, number);
    return 0;
}
