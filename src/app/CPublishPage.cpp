#include "app/CPublishPage.h"

#include "app/CTarvikApp.h"
#include "base/CPrefs.h"
#include "base/UserMessage.h"
#include "records/KeyringPassword.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

CPublishPage::CPublishPage(CTarvikApp *app, QWidget *parent)
    : CSettingsPage(parent)
    , m_app(app)
{
    m_enabled = new QCheckBox(QStringLiteral("Publish live readings to an MQTT broker"), this);
    m_url = new QLineEdit(this);
    m_url->setPlaceholderText(QStringLiteral("mqtt://host:1883 or mqtts://host:8883"));
    m_caFile = new QLineEdit(this);
    m_caFile->setPlaceholderText(QStringLiteral("mqtts only; empty: the system's CAs"));
    m_certFile = new QLineEdit(this);
    m_certFile->setPlaceholderText(QStringLiteral("mqtts only; for brokers that ask for one"));
    m_keyFile = new QLineEdit(this);
    m_keyFile->setPlaceholderText(QStringLiteral("the certificate's key, not encrypted"));
    const QString certificates = QStringLiteral("Certificates (*.pem *.crt);;All Files (*)");
    m_prefix = new QLineEdit(this);
    m_clientId = new QLineEdit(this);
    m_clientId->setPlaceholderText(QStringLiteral("empty: made from this computer's name"));
    m_user = new QLineEdit(this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("unchanged"));
    m_qos = new QComboBox(this);
    m_qos->addItem(QStringLiteral("0 - at most once"));
    m_qos->addItem(QStringLiteral("1 - at least once"));
    m_discovery = new QCheckBox(
        QStringLiteral("Announce the meters for Home Assistant (MQTT discovery)"), this);
    m_passwordNote = new QLabel(this);
    m_passwordNote->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Broker"), m_url);
    form->addRow(
        QStringLiteral("CA file"), FileRow(m_caFile, QStringLiteral("CA File"), certificates));
    form->addRow(QStringLiteral("Client certificate"),
        FileRow(m_certFile, QStringLiteral("Client Certificate"), certificates));
    form->addRow(QStringLiteral("Client key"),
        FileRow(m_keyFile, QStringLiteral("Client Key"),
            QStringLiteral("Keys (*.pem *.key);;All Files (*)")));
    form->addRow(QStringLiteral("Topic prefix"), m_prefix);
    form->addRow(QStringLiteral("Client id"), m_clientId);
    form->addRow(QStringLiteral("User"), m_user);
    form->addRow(QStringLiteral("Password"), m_password);
    form->addRow(QStringLiteral("QoS"), m_qos);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_enabled);
    layout->addLayout(form);
    layout->addWidget(m_discovery);
    layout->addWidget(m_passwordNote);
    layout->addStretch(1);
}

QLayout *CPublishPage::FileRow(QLineEdit *edit, const QString &title, const QString &filter)
{
    auto *browse = new QPushButton(QStringLiteral("Browse..."), this);
    connect(browse, &QPushButton::clicked, this, [this, edit, title, filter] {
        const QString path = QFileDialog::getOpenFileName(this, title, edit->text(), filter);
        if (!path.isEmpty())
            edit->setText(path);
    });
    auto *row = new QHBoxLayout;
    row->addWidget(edit);
    row->addWidget(browse);
    return row;
}

void CPublishPage::FillLists()
{
    std::unique_ptr<QSettings> store = CPrefs::OpenStore();
    const PublishSettings s = PublishSettings::Load(*store);
    m_enabled->setChecked(s.enabled);
    m_url->setText(s.url);
    m_caFile->setText(s.caFile);
    m_certFile->setText(s.certFile);
    m_keyFile->setText(s.keyFile);
    m_discovery->setChecked(s.discovery);
    m_prefix->setText(s.topicPrefix);
    m_clientId->setText(s.clientId);
    m_user->setText(s.user);
    m_password->clear();
    m_passwordNote->setText(
        s.password.isEmpty() ? QString() : KeyringPassword::InPreferencesNote());
    m_qos->setCurrentIndex(s.qos);
}

PublishSettings CPublishPage::Collected() const
{
    PublishSettings s;
    s.enabled = m_enabled->isChecked();
    s.url = m_url->text().trimmed();
    s.caFile = m_caFile->text().trimmed();
    s.certFile = m_certFile->text().trimmed();
    s.keyFile = m_keyFile->text().trimmed();
    s.discovery = m_discovery->isChecked();
    s.topicPrefix = m_prefix->text().trimmed();
    s.clientId = m_clientId->text().trimmed();
    s.user = m_user->text();
    s.password = m_password->text();
    s.qos = m_qos->currentIndex() == 0 ? 0 : 1;
    return s;
}

bool CPublishPage::Validate()
{
    const PublishSettings s = Collected();
    // Settings that are off may be unfinished; they are checked when switched on.
    if (!s.enabled)
        return true;
    const QString error = s.Check();
    if (error.isEmpty())
        return true;
    UserMessage::Show(error);
    return false;
}

void CPublishPage::Apply()
{
    PublishSettings s = Collected();
    QString kept;
    {
        std::unique_ptr<QSettings> store = CPrefs::OpenStore();
        s.Save(*store);
        kept = PublishSettings::Load(*store).password;
    }
    m_password->clear();
    QPointer<CTarvikApp> app = m_app;
    if (s.password.isEmpty() && kept.isEmpty()) {
        if (app)
            app->StartPublishing(s);
        return;
    }
    // A password typed, or one the preferences still hold (an earlier program kept it there):
    // it goes to the keyring where one runs, and publishing starts once it is kept.
    if (s.password.isEmpty())
        s.password = kept;
    QPointer<QLabel> note = m_passwordNote;
    KeyringPassword::Write(
        KeyringPassword::MqttAccount(), s.password,
        [](const QString &password) {
            std::unique_ptr<QSettings> store = CPrefs::OpenStore();
            PublishSettings::StorePassword(*store, password);
        },
        [app, note, s](bool inKeyring) {
            if (note)
                note->setText(inKeyring ? KeyringPassword::InKeyringNote()
                                        : KeyringPassword::InPreferencesNote());
            if (app)
                app->ApplyPublishSettings(s);
        });
}
