#pragma once

#include "base/CDocument.h"

#include <QStringList>

// A command list opened as a document: its lines in file order, without line ends. Created by
// the document manager when a ".que" file is opened (by a meter form or the user); its first
// view, CQueView, shows a run of the lines.
class CQueDoc : public CDocument
{
    Q_OBJECT
public:
    explicit CQueDoc(QObject *parent = nullptr);

    // Reads the file line by line (CR LF or LF ends); an empty file gives an empty list. The
    // text is taken byte for byte (Latin-1), as the script parser works on single bytes.
    bool OnOpenDocument(const QString &path) override;
    // The list has nothing of its own to save. Saving onto the file it came from leaves that file
    // untouched; saving under another name writes the lines back unchanged.
    bool OnSaveDocument(const QString &path) override;
    bool StoresContent() const override { return true; }
    void DeleteContents() { m_lines.clear(); }

    const QStringList &Lines() const { return m_lines; }
    // Splits file content into lines the way OnOpenDocument does.
    static QStringList SplitLines(const QByteArray &content);

private:
    QStringList m_lines;
    QString m_loadedFrom;
};
