#pragma once

#include "base/CChildFrame.h"

// The small progress window of a command list: 410 x 155 at (80, 60) of the main window's client
// area, a caption bar only (no resizing border, no system menu), captioned "Processing-> " and the
// document's title. Created by the document manager for the command-list type.
class CQueFrame : public CChildFrame
{
    Q_OBJECT
public:
    explicit CQueFrame(QWidget *parent = nullptr);
    QRect FrameGeometry() const override { return QRect(80, 60, 410, 155); }
    // Sets the caption from the view's document and follows its later title changes.
    void UpdateCaption();

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_followingTitle = false;
};
