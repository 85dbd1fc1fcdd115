#pragma once

#include <QString>

#include <functional>

// A password kept in the desktop's keyring where one runs, else in the preferences (the
// Settings page says which). Keyring calls finish later, on the event loop; done is called then.
class RecordsPassword
{
public:
    // Keeps password for account ("USER@HOST:PORT/DB"); done(true) when the keyring took it,
    // done(false) when it went to the preferences (store(password)) for want of one.
    static void Write(const QString &account, const QString &password,
        std::function<void(const QString &)> store, std::function<void(bool inKeyring)> done);
    // The password of account from the keyring; done("") when it holds none or none runs.
    static void Read(const QString &account, std::function<void(const QString &)> done);
};
