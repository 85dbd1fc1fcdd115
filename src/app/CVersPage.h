#pragma once

#include "app/CSettingsPage.h"

// "Versions": the firmware version to work with.
class CVersPage : public CSettingsPage
{
    Q_OBJECT
public:
    explicit CVersPage(QWidget *parent = nullptr);
    void Apply() override;
    QListWidget *VersionList() const { return m_versions; }

protected:
    void FillLists() override;

private:
    QListWidget *m_versions = nullptr;
};
