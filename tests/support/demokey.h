#pragma once

#include "crypto/cryptfunctions.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// Signatures made with the demo key pair in keys/, for tests of code that
// checks against the key built into the program. They verify only when the
// build uses the demo public key, which builtInKeyIsDemoKey() tells.
namespace DemoKey {

inline QString directory()
{
    return QStringLiteral(HALVEX_TEST_SOURCE_DIR "/keys");
}

inline bool isBuiltIn()
{
    QFile file(directory() + QStringLiteral("/public.der"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray demo = file.readAll();
    return !demo.isEmpty()
            && QByteArray(reinterpret_cast<const char *>(PUBLIC_KEY), demo.size()) == demo;
}

inline QByteArray sign(const QByteArray &data)
{
    crypt_init();
    Rsa_key key;
    load_key(&key, QFile::encodeName(directory() + QStringLiteral("/private.der")).constData());
    unsigned char out[256];
    unsigned long outLen = sizeof(out);
    sign_msg(&key, reinterpret_cast<const unsigned char *>(data.constData()),
             static_cast<unsigned long>(data.size()), out, &outLen);
    rsa_free(&key);
    return QByteArray(reinterpret_cast<const char *>(out), int(outLen));
}

} // namespace DemoKey
