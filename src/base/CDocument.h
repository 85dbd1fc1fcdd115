#pragma once

#include <QObject>
#include <QString>

// Base of every document: the file it came from, its title and modified flag. GUI-free, so a
// document's load and store logic is testable without a window. The document manager creates
// documents through their type's factory and calls OnOpenDocument with the file's path.
class CDocument : public QObject
{
    Q_OBJECT
public:
    explicit CDocument(QObject *parent = nullptr);
    ~CDocument() override;

    // Reads the document from path; false when it cannot be opened ("Failed to open document.").
    // The default accepts any readable file and stores nothing of it.
    virtual bool OnOpenDocument(const QString &path);
    // Writes the document to path; false when it could not be written (the caller reports it).
    // The default stores nothing and succeeds.
    virtual bool OnSaveDocument(const QString &path);
    // Whether the last OnOpenDocument that failed told the user why itself (the document
    // manager then adds no message of its own).
    virtual bool SaidWhyOpenFailed() const { return false; }
    // Whether this document writes anything on Save (documents that store nothing say no).
    virtual bool StoresContent() const { return false; }

    QString PathName() const { return m_pathName; }
    void SetPathName(const QString &path); // also sets the title to the file's name
    QString Title() const { return m_title; }
    void SetTitle(const QString &title);
    // The title its windows show: the title, with the desktop's modified-marker placeholder
    // while the document holds unsaved edits (the title itself never carries it).
    QString FrameTitle() const;
    bool IsModified() const { return m_modified; }
    // Opened from a template by a New command: Save asks for a name instead of writing the
    // template. Saving under another path clears it.
    bool OpenedAsTemplate() const { return m_openedAsTemplate; }
    void SetOpenedAsTemplate(bool fromTemplate) { m_openedAsTemplate = fromTemplate; }
    void SetModifiedFlag(bool modified = true);
    // Index of the document type that created it (registration order, from 0).
    int TypeIndex() const { return m_typeIndex; }
    void SetTypeIndex(int index) { m_typeIndex = index; }

Q_SIGNALS:
    void TitleChanged(const QString &title);
    // The modified flag changed (the windows show or drop the modified marker).
    void ModifiedChanged(bool modified);
    // Asks the windows showing this document to close (the document goes with the last one).
    void CloseRequested();

private:
    QString m_pathName;
    QString m_title;
    bool m_modified = false;
    bool m_openedAsTemplate = false;
    int m_typeIndex = -1;
};
