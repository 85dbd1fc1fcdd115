#include "app/CVersPage.h"

#include "app/CommSettings.h"
#include "base/CPrefs.h"

#include <QGroupBox>
#include <QListWidget>
#include <QVBoxLayout>

CVersPage::CVersPage(QWidget *parent)
    : CSettingsPage(parent)
{
    QGroupBox *box = nullptr;
    m_versions = AddList(QStringLiteral("Selection List"), this, &box);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(box);
    layout->addStretch(1);
}

void CVersPage::FillLists()
{
    CPrefs prefs;
    FillAndSelect(m_versions, CommSettings::VersionList(), prefs.GetVersion());
}

void CVersPage::Apply()
{
    CommSettings::ApplyVersion(Selection(m_versions));
}
