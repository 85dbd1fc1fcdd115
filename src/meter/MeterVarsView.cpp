#include "meter/MeterVarsView.h"

#include "app/Globals.h"
#include "meter/CConvertDlg.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterVars.h"

#include <QHeaderView>
#include <QLabel>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

MeterVarsView::MeterVarsView(CMeterDoc *document, QWidget *parent)
    : CView(document, parent)
{
    m_layout = new QLabel(this);
    m_table = new QTableWidget(0, 4, this);
    m_table->setHorizontalHeaderLabels({ QStringLiteral("Variable"), QStringLiteral("Offset"),
        QStringLiteral("Size"), QStringLiteral("Bytes") });
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_layout);
    layout->addWidget(m_table);
    Refresh();
}

CMeterDoc *MeterVarsView::Document() const
{
    return static_cast<CMeterDoc *>(GetDocument());
}

void MeterVarsView::Refresh()
{
    MeterVars *vars = Document() ? Document()->Vars() : nullptr;
    if (!vars) {
        m_layout->setText(QStringLiteral("No meter data"));
        m_table->setRowCount(0);
        return;
    }
    m_layout->setText(QStringLiteral("Layout %1, %2 variables, %3 bytes")
                          .arg(vars->SectionName())
                          .arg(vars->Count())
                          .arg(vars->ImageBytes()));
    m_table->setRowCount(vars->Count());
    const QString text = vars->ImageToText();
    for (int i = 0, k = 0; i < vars->Count(); ++i) {
        const int size = vars->Size(i);
        m_table->setItem(i, 0, new QTableWidgetItem(vars->Name(i)));
        m_table->setItem(i, 1, new QTableWidgetItem(QString::number(vars->Offset(i))));
        m_table->setItem(i, 2, new QTableWidgetItem(QString::number(size)));
        m_table->setItem(i, 3, new QTableWidgetItem(text.mid(3 * k, 3 * size).trimmed()));
        k += size;
    }
    m_table->resizeColumnsToContents();
}

QString MeterVarsView::ConvertTarget()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tarvik"),
        QString::fromLatin1(kAppTitle));
    const QString version = settings.value(QStringLiteral("Version/SELECTION")).toString();
    return version.isEmpty() ? QStringLiteral("4.0A") : version;
}

bool MeterVarsView::HandlesCommand(AppCommand command) const
{
    return command == AppCommand::Convert || CView::HandlesCommand(command);
}

bool MeterVarsView::OnCommand(AppCommand command)
{
    if (command != AppCommand::Convert)
        return CView::OnCommand(command);
    Convert();
    return true;
}

void MeterVarsView::Convert()
{
    CMeterDoc *doc = Document();
    if (!doc)
        return;
    const QString target = ConvertTarget();
    CConvertDlg dialog(doc->ConvertPrompt(target), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (doc->ConvertToVersion(target))
        doc->SetModifiedFlag();
    Refresh();
}
