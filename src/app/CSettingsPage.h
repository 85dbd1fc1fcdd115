#pragma once

#include <QWidget>

class QGroupBox;
class QLineEdit;
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
    // Whether OK may apply the page; false (after saying why) keeps the sheet open on it.
    virtual bool Validate() { return true; }

protected:
    virtual void FillLists() = 0;
    // A titled list box; the list keeps one selection at most.
    QListWidget *AddList(const QString &title, QWidget *parent, QGroupBox **box = nullptr);
    // Fills a list and selects the first entry that begins with stored (ignoring case).
    static void FillAndSelect(QListWidget *list, const QStringList &entries, const QString &stored);
    // The selected entry's text, or empty text when nothing is selected.
    static QString Selection(const QListWidget *list);

    // An editable "Device path" field under a port list, for a device the list does not name
    // (any text starting with "/"). Picking a list entry puts a path entry into the field and
    // clears it for a "COMn"; typing a path clears the list's selection.
    QLineEdit *AddPathField(QGroupBox *box, QListWidget *list);
    // Fills the field: the stored port when it is a path, else the path typed last (key).
    static void FillPath(QLineEdit *field, const QString &stored, const QString &key);
    // The port chosen: a typed path, else the list's selection. A typed path is remembered
    // under key for the next opening of the sheet.
    static QString PortChoice(const QListWidget *list, const QLineEdit *field, const QString &key);
    // The device path typed last on a page ("Port/PATH", "MBPort/MBPATH").
    static QString RememberedPath(const QString &key);

private:
    bool m_shown = false;
};
