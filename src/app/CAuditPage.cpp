#include "app/CAuditPage.h"

#include "app/CTarvikApp.h"
#include "audit/AuditSettings.h"
#include "records/KeyringPassword.h"
#include "records/RecordsSettings.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>
#include <QVBoxLayout>

CAuditPage::CAuditPage(CTarvikApp *app, QWidget *parent)
    : CSettingsPage(parent)
    , m_app(app)
{
    auto *send = new QGroupBox(QStringLiteral("Send"), this);
    auto *sendLayout = new QVBoxLayout(send);
    m_compare = new QCheckBox(QStringLiteral("Compare with the meter before sending"), send);
    m_readBack = new QCheckBox(QStringLiteral("Read back after sending"), send);
    sendLayout->addWidget(m_compare);
    sendLayout->addWidget(m_readBack);

    auto *records = new QGroupBox(QStringLiteral("Records"), this);
    auto *recordsForm = new QFormLayout(records);
    m_operator = new QLineEdit(records);
    m_operator->setMaxLength(50);
    m_operator->setPlaceholderText(QStringLiteral("Anon"));
    m_operator->setToolTip(QStringLiteral("The name the audit trail, the change report and the "
                                          "datasheets give when no ID passcode names another"));
    recordsForm->addRow(QStringLiteral("Operator"), m_operator);

    auto *folders = new QGroupBox(QStringLiteral("Folders (empty: the working folder)"), this);
    auto *form = new QFormLayout(folders);
    m_trailFolder = new QLineEdit(folders);
    m_asFoundFolder = new QLineEdit(folders);
    form->addRow(QStringLiteral("Audit trail"), m_trailFolder);
    form->addRow(QStringLiteral("As-found copies"), m_asFoundFolder);

    auto *store = new QGroupBox(QStringLiteral("Service records"), this);
    auto *storeForm = new QFormLayout(store);
    m_server = new QCheckBox(QStringLiteral("Keep them on the lab's PostgreSQL server"), store);
    m_server->setToolTip(QStringLiteral("Off: in tarvik-records.sqlite beside the audit trail"));
    m_host = new QLineEdit(store);
    m_port = new QSpinBox(store);
    m_port->setRange(1, 65535);
    m_database = new QLineEdit(store);
    m_user = new QLineEdit(store);
    m_password = new QLineEdit(store);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("unchanged"));
    m_passwordNote = new QLabel(store);
    m_passwordNote->setWordWrap(true);
    m_session = new QSpinBox(store);
    m_session->setRange(1, 24 * 7);
    m_session->setSuffix(QStringLiteral(" h"));
    m_session->setToolTip(QStringLiteral("Consecutive actions on one meter by one operator within "
                                         "this time are one visit"));
    storeForm->addRow(m_server);
    storeForm->addRow(QStringLiteral("Host"), m_host);
    storeForm->addRow(QStringLiteral("Port"), m_port);
    storeForm->addRow(QStringLiteral("Database"), m_database);
    storeForm->addRow(QStringLiteral("User"), m_user);
    storeForm->addRow(QStringLiteral("Password"), m_password);
    storeForm->addRow(m_passwordNote);
    storeForm->addRow(QStringLiteral("Working session"), m_session);
    connect(m_server, &QCheckBox::toggled, this, &CAuditPage::ShowServer);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(send);
    layout->addWidget(records);
    layout->addWidget(folders);
    layout->addWidget(store);
    layout->addStretch(1);
}

void CAuditPage::FillLists()
{
    m_compare->setChecked(AuditSettings::CompareBeforeSend());
    m_readBack->setChecked(AuditSettings::ReadBackAfterSend());
    m_operator->setText(AuditSettings::Operator());
    m_trailFolder->setText(AuditSettings::Folder());
    m_asFoundFolder->setText(AuditSettings::AsFoundFolder());
    const RecordsTarget server = RecordsSettings::Server();
    m_server->setChecked(RecordsSettings::UseServer());
    m_host->setText(server.host);
    m_port->setValue(server.port);
    m_database->setText(server.database);
    m_user->setText(server.user);
    m_password->clear();
    m_passwordNote->setText(RecordsSettings::StoredPassword().isEmpty()
            ? QString()
            : KeyringPassword::InPreferencesNote());
    m_session->setValue(RecordsSettings::SessionHours());
    ShowServer();
}

void CAuditPage::ShowServer()
{
    for (QWidget *w :
        std::initializer_list<QWidget *> { m_host, m_port, m_database, m_user, m_password })
        w->setEnabled(m_server->isChecked());
}

void CAuditPage::Apply()
{
    AuditSettings::SetCompareBeforeSend(m_compare->isChecked());
    AuditSettings::SetReadBackAfterSend(m_readBack->isChecked());
    AuditSettings::SetOperator(m_operator->text());
    AuditSettings::SetFolder(m_trailFolder->text());
    AuditSettings::SetAsFoundFolder(m_asFoundFolder->text());
    RecordsTarget server;
    server.host = m_host->text();
    server.port = m_port->value();
    server.database = m_database->text();
    server.user = m_user->text();
    RecordsSettings::SetServer(m_server->isChecked(), server);
    RecordsSettings::SetSessionHours(m_session->value());
    QPointer<CTarvikApp> app = m_app;
    if (m_password->text().isEmpty()) {
        if (app)
            app->StartRecords();
        return;
    }
    // The keyring answers later; the store starts anew once the password is kept.
    QPointer<QLabel> note = m_passwordNote;
    KeyringPassword::Write(RecordsSettings::Server().Url(), m_password->text(),
        &RecordsSettings::SetStoredPassword, [app, note](bool inKeyring) {
            if (note)
                note->setText(inKeyring ? KeyringPassword::InKeyringNote()
                                        : KeyringPassword::InPreferencesNote());
            if (app)
                app->StartRecords();
        });
    m_password->clear();
}
