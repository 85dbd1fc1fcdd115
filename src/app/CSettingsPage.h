#pragma once

#include <QWidget>

class QGroupBox;
class QListWidget;

// Base of the "Settings" sheet's pages: filled from the preferences when first shown, applied
// by the sheet's OK only if it has been shown.
class CSettingsPage : public QWidget
{
    Q_OBJECT
public:
    explicit CSettingsPage(QWidget *parent = nullptr);
    // Called each time the page becomes the sheet's current one.
    void OnSetActive();
    bool WasShown() const { return m_shown; }
    virtual void Apply() = 0;

protected:
    virtual void FillLists() = 0;
    // A titled list box; the list keeps one selection at most.
    QListWidget *AddList(const QString &title, QWidget *parent, QGroupBox **box = nullptr);
    // Fills a list and selects the first entry that begins with stored (ignoring case).
    static void FillAndSelect(QListWidget *list, const QStringList &entries, const QString &stored);
    // The selected entry's text, or empty text when nothing is selected.
    static QString Selection(const QListWidget *list);

private:
    bool m_shown = false;
};
