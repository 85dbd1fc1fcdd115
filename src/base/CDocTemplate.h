#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class CDocument;
class CView;
class CChildFrame;

// One document type: its strings, its factories and which menu bar it brings.
// The type string has seven fields separated by line feeds: window title, document name,
// new-file name, filter name, filter extension, shell type id, shell type name.
struct CDocTemplate
{
    enum class Menu { Main, Kelvane, Terminal };

    int resourceId = 0;
    QString typeString;
    std::function<CDocument *()> createDocument;
    std::function<CChildFrame *()> createFrame;
    std::function<CView *(CDocument *)> createView;
    Menu menu = Menu::Main;

    QString Field(int index) const { return typeString.split(QLatin1Char('\n')).value(index); }
    QString DocName() const { return Field(1); }
    QString FilterName() const { return Field(3); }
    QString Extension() const { return Field(4); }
};
