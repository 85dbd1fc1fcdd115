#pragma once

#include <QString>

#include <functional>

// A password kept in the desktop's keyring where one runs, else in the preferences (the Settings
// pages say which): the service records server's and the MQTT broker's. Keyring calls finish
// later, on the event loop; done is called then, once, and at the latest after kWaitMs, so a
// desktop whose keyring service never answers (or a session without one) costs a bounded wait.
class KeyringPassword
{
public:
    static constexpr int kWaitMs = 3000;

    // The account the MQTT broker's password is kept under (one broker a user, as the
    // preferences kept one password).
    static QString MqttAccount();
    // Keeps password for account (the records server's "USER@HOST:PORT/DB" URL, MqttAccount());
    // done(true) when the keyring took it, done(false) when it went to the preferences
    // (store(password)) for want of one. store("") clears the preferences' copy once the keyring
    // holds it.
    static void Write(const QString &account, const QString &password,
        std::function<void(const QString &)> store, std::function<void(bool inKeyring)> done);
    // The password of account from the keyring; done("") when it holds none or none answers.
    static void Read(const QString &account, std::function<void(const QString &)> done);
    // Read, waited for on an event loop of its own (for tarvik-cli, which has no window to keep
    // answering); at most kWaitMs.
    static QString ReadWaiting(const QString &account);

    // What a Settings page says of where the password is kept.
    static QString InKeyringNote();
    static QString InPreferencesNote();
};
