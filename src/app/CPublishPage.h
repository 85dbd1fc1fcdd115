#pragma once

#include "app/CSettingsPage.h"
#include "publish/PublishSettings.h"

class CTarvikApp;
class QCheckBox;
class QComboBox;
class QLabel;

// "Publish": whether live readings go to an MQTT broker, and the broker's address, CA file,
// client certificate and key, topic prefix, client id, user, password (in the desktop's keyring
// where one runs), QoS and whether the meters are announced for Home Assistant's discovery. OK
// refuses settings the publisher cannot use (the message says why, the page stays open); accepted
// ones are stored and put in force.
class CPublishPage : public CSettingsPage
{
    Q_OBJECT
public:
    explicit CPublishPage(CTarvikApp *app, QWidget *parent = nullptr);
    bool Validate() override;
    void Apply() override;

    // The settings as the page's fields give them.
    PublishSettings Collected() const;
    QCheckBox *EnabledBox() const { return m_enabled; }
    QLineEdit *UrlEdit() const { return m_url; }
    QLineEdit *CaFileEdit() const { return m_caFile; }
    QLineEdit *CertFileEdit() const { return m_certFile; }
    QLineEdit *KeyFileEdit() const { return m_keyFile; }
    QCheckBox *DiscoveryBox() const { return m_discovery; }
    QLineEdit *PrefixEdit() const { return m_prefix; }
    QLineEdit *ClientIdEdit() const { return m_clientId; }
    QLineEdit *UserEdit() const { return m_user; }
    QLineEdit *PasswordEdit() const { return m_password; }
    QLabel *PasswordNote() const { return m_passwordNote; }
    QComboBox *QosBox() const { return m_qos; }

protected:
    void FillLists() override;

private:
    // A file's field with its Browse... button beside it.
    QLayout *FileRow(QLineEdit *edit, const QString &title, const QString &filter);

    CTarvikApp *m_app = nullptr;
    QCheckBox *m_enabled = nullptr;
    QLineEdit *m_url = nullptr;
    QLineEdit *m_caFile = nullptr;
    QLineEdit *m_certFile = nullptr;
    QLineEdit *m_keyFile = nullptr;
    QCheckBox *m_discovery = nullptr;
    QLineEdit *m_prefix = nullptr;
    QLineEdit *m_clientId = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr; // empty: the password kept stays
    QLabel *m_passwordNote = nullptr;
    QComboBox *m_qos = nullptr;
};
