#include "app/CPublishPage.h"

#include "app/CTarvikApp.h"
#include "base/CPrefs.h"
#include "base/UserMessage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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
    auto *browse = new QPushButton(QStringLiteral("Browse..."), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("CA File"),
            m_caFile->text(), QStringLiteral("Certificates (*.pem *.crt);;All Files (*)"));
        if (!path.isEmpty())
            m_caFile->setText(path);
    });
    auto *caRow = new QHBoxLayout;
    caRow->addWidget(m_caFile);
    caRow->addWidget(browse);
    m_prefix = new QLineEdit(this);
    m_clientId = new QLineEdit(this);
    m_clientId->setPlaceholderText(QStringLiteral("empty: made from this computer's name"));
    m_user = new QLineEdit(this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_qos = new QComboBox(this);
    m_qos->addItem(QStringLiteral("0 - at most once"));
    m_qos->addItem(QStringLiteral("1 - at least once"));
    auto *note = new QLabel(QStringLiteral("No secret store is used: the password is kept in the "
                                           "preferences file as plain text."),
        this);
    note->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Broker"), m_url);
    form->addRow(QStringLiteral("CA file"), caRow);
    form->addRow(QStringLiteral("Topic prefix"), m_prefix);
    form->addRow(QStringLiteral("Client id"), m_clientId);
    form->addRow(QStringLiteral("User"), m_user);
    form->addRow(QStringLiteral("Password"), m_password);
    form->addRow(QStringLiteral("QoS"), m_qos);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_enabled);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addStretch(1);
}

void CPublishPage::FillLists()
{
    std::unique_ptr<QSettings> store = CPrefs::OpenStore();
    const PublishSettings s = PublishSettings::Load(*store);
    m_enabled->setChecked(s.enabled);
    m_url->setText(s.url);
    m_caFile->setText(s.caFile);
    m_prefix->setText(s.topicPrefix);
    m_clientId->setText(s.clientId);
    m_user->setText(s.user);
    m_password->setText(s.password);
    m_qos->setCurrentIndex(s.qos);
}

PublishSettings CPublishPage::Collected() const
{
    PublishSettings s;
    s.enabled = m_enabled->isChecked();
    s.url = m_url->text().trimmed();
    s.caFile = m_caFile->text().trimmed();
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
    const PublishSettings s = Collected();
    {
        std::unique_ptr<QSettings> store = CPrefs::OpenStore();
        s.Save(*store);
    }
    if (m_app)
        m_app->ApplyPublishSettings(s);
}
