#include "crypto/cryptfunctions.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

const QString SourceDir = QStringLiteral(HALVEX_TEST_SOURCE_DIR);
const QString DemoPublicKey = SourceDir + QStringLiteral("/keys/public.der");
const QString DemoPrivateKey = SourceDir + QStringLiteral("/keys/private.der");
// A message and its signature made by openssl with the demo private key.
const QString SignedFile = SourceDir + QStringLiteral("/tests/crypto/data/signed.txt");

const QStringList PssOptions = {QStringLiteral("-sha1"), QStringLiteral("-sigopt"),
                                QStringLiteral("rsa_padding_mode:pss"), QStringLiteral("-sigopt"),
                                QStringLiteral("rsa_pss_saltlen:8")};

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

void writeBytes(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
}

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

// A key that the test owns and releases.
struct Key
{
    Rsa_key key {};
    bool filled = false;
    ~Key()
    {
        if (filled)
            rsa_free(&key);
    }
    Rsa_key *operator->() { return &key; }
    Rsa_key *get() { return &key; }
};

// Imports DER from memory the way the updater imports its key: padded to 2048 bytes.
void importPadded(Key &key, const QByteArray &der)
{
    QByteArray blob = der;
    blob.append(QByteArray(int(KEY_BLOB_SIZE) - der.size(), '\0'));
    load_key(key.get(), bytes(blob), KEY_BLOB_SIZE);
    key.filled = true;
}

bool verify(Key &key, const QByteArray &message, const QByteArray &signature)
{
    QByteArray sig = signature;
    return verify_msg(key.get(), bytes(message), static_cast<unsigned long>(message.size()),
                      reinterpret_cast<unsigned char *>(sig.data()),
                      static_cast<unsigned long>(sig.size()));
}

QByteArray sign(Key &key, const QByteArray &message)
{
    QByteArray signature(int(KEY_BLOB_SIZE), '\0');
    unsigned long length = KEY_BLOB_SIZE;
    sign_msg(key.get(), bytes(message), static_cast<unsigned long>(message.size()),
             reinterpret_cast<unsigned char *>(signature.data()), &length);
    signature.truncate(int(length));
    return signature;
}

QByteArray exportKey(Key &key, int type)
{
    QByteArray der(int(KEY_BLOB_SIZE), '\0');
    unsigned long length = KEY_BLOB_SIZE;
    check_err("rsa_export",
              rsa_export(reinterpret_cast<unsigned char *>(der.data()), &length, type, key.get()));
    der.truncate(int(length));
    return der;
}

// The text of the crypt_exception that body throws, or a null string.
template<typename Body>
QString thrownText(Body body)
{
    try {
        body();
    } catch (const crypt_exception &e) {
        return QString::fromLatin1(e.what());
    }
    return {};
}

} // namespace

class tst_CryptoFunctions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void initTwiceKeepsIndices();
    void checkErr();
    void hashMsg_data();
    void hashMsg();

    void knownAnswer_data();
    void knownAnswer();
    void builtInKeyImportsWithFullLength();
    void concurrentVerification();

    void createSignVerifyRoundTrip();
    void signBufferTooSmall();
    void keyFiles();
    void keyFileErrors();
    void readWriteFile_data();
    void readWriteFile();
    void fileErrors();

    void opensslSignatureVerifies_data();
    void opensslSignatureVerifies();
    void opensslVerifiesOurSignature();

private:
    QString runOpenssl(const QStringList &arguments, int *exitCode = nullptr);
    void demoPems();

    QTemporaryDir dir;
    QString openssl;
    QString publicPem;
    QString privatePem;
};

void tst_CryptoFunctions::initTestCase()
{
    QVERIFY(dir.isValid());
    crypt_init();
    openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    QVERIFY2(!openssl.isEmpty(), "openssl is needed to test interoperability (scripts/setup installs it)");
}

QString tst_CryptoFunctions::runOpenssl(const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openssl, arguments);
    if (!process.waitForFinished(60000))
        qFatal("openssl did not finish");
    if (exitCode != nullptr)
        *exitCode = process.exitCode();
    else if (process.exitCode() != 0)
        qWarning("openssl %s: %s", qPrintable(arguments.join(u' ')), process.readAll().constData());
    return QString::fromLocal8Bit(process.readAll());
}

// openssl's own forms of the demo key pair.
void tst_CryptoFunctions::demoPems()
{
    publicPem = dir.filePath(QStringLiteral("demo_public.pem"));
    privatePem = dir.filePath(QStringLiteral("demo_private.pem"));
    if (QFile::exists(publicPem))
        return;
    runOpenssl({QStringLiteral("rsa"), QStringLiteral("-pubin"), QStringLiteral("-inform"),
                QStringLiteral("DER"), QStringLiteral("-RSAPublicKey_in"), QStringLiteral("-in"),
                DemoPublicKey, QStringLiteral("-pubout"), QStringLiteral("-out"), publicPem});
    runOpenssl({QStringLiteral("rsa"), QStringLiteral("-inform"), QStringLiteral("DER"),
                QStringLiteral("-in"), DemoPrivateKey, QStringLiteral("-out"), privatePem});
    QVERIFY(QFile::exists(publicPem));
    QVERIFY(QFile::exists(privatePem));
}

void tst_CryptoFunctions::initTwiceKeepsIndices()
{
    const int hash = hash_idx;
    const int prng = prng_idx;
    QVERIFY(hash >= 0);
    QVERIFY(prng >= 0);
    crypt_init();
    QCOMPARE(hash_idx, hash);
    QCOMPARE(prng_idx, prng);
    QCOMPARE(hash_idx, find_hash("sha1"));
    QCOMPARE(prng_idx, find_prng("sprng"));
    QCOMPARE(QByteArray(ltc_mp.name), QByteArray("LibTomMath"));
}

void tst_CryptoFunctions::checkErr()
{
    QVERIFY(thrownText([] { check_err("rsa_import", CRYPT_OK); }).isNull());
    QCOMPARE(thrownText([] { check_err("rsa_import", CRYPT_INVALID_PACKET); }),
             QStringLiteral("rsa_import: ") + QString::fromLatin1(error_to_string(CRYPT_INVALID_PACKET)));
}

void tst_CryptoFunctions::hashMsg_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("digest");
    QTest::newRow("empty") << QByteArray() << QByteArray("da39a3ee5e6b4b0d3255bfef95601890afd80709");
    QTest::newRow("abc") << QByteArray("abc") << QByteArray("a9993e364706816aba3e25717850c26c9cd0d89d");
    QTest::newRow("two blocks") << QByteArray(1000, 'a')
                                << QByteArray("291e9a6c66994949b57ba5e650361e98fc36b1ba");
}

void tst_CryptoFunctions::hashMsg()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, digest);
    unsigned char out[20];
    hash_msg(bytes(message), static_cast<unsigned long>(message.size()), out);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), 20).toHex(), digest);
}

enum Outcome { Valid, Invalid, Throws, InvalidOrThrows };

void tst_CryptoFunctions::knownAnswer_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<int>("outcome");

    const QByteArray message = readBytes(SignedFile);
    const QByteArray signature = readBytes(SignedFile + QStringLiteral(".sig"));
    QCOMPARE(signature.size(), 128);

    QByteArray changedMessage = message;
    changedMessage[10] = char(changedMessage[10] ^ 0x01);
    QByteArray damagedSignature = signature;
    damagedSignature[64] = char(damagedSignature[64] ^ 0x40);

    QTest::newRow("valid") << message << signature << int(Valid);
    QTest::newRow("one message byte changed") << changedMessage << signature << int(Invalid);
    QTest::newRow("message cut short") << message.chopped(1) << signature << int(Invalid);
    QTest::newRow("damaged signature") << message << damagedSignature << int(InvalidOrThrows);
    QTest::newRow("empty signature") << message << QByteArray() << int(Throws);
    QTest::newRow("127-byte signature") << message << signature.left(127) << int(Throws);
    QTest::newRow("129-byte signature") << message << signature + '\0' << int(Throws);
}

void tst_CryptoFunctions::knownAnswer()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, signature);
    QFETCH(int, outcome);

    Key key;
    importPadded(key, readBytes(DemoPublicKey));
    bool valid = false;
    const QString thrown = thrownText([&] { valid = verify(key, message, signature); });
    switch (outcome) {
    case Valid:
        QVERIFY2(thrown.isNull(), qPrintable(thrown));
        QVERIFY(valid);
        break;
    case Invalid:
        QVERIFY2(thrown.isNull(), qPrintable(thrown));
        QVERIFY(!valid);
        break;
    case Throws:
        QVERIFY2(thrown.startsWith(QStringLiteral("rsa_verify_hash: ")), qPrintable(thrown));
        break;
    case InvalidOrThrows:
        QVERIFY(!valid);
        QVERIFY2(thrown.isNull() || thrown.startsWith(QStringLiteral("rsa_verify_hash: ")),
                 qPrintable(thrown));
        break;
    }
}

void tst_CryptoFunctions::builtInKeyImportsWithFullLength()
{
    const QByteArray configured = readBytes(QStringLiteral(HALVEX_TEST_PUBLIC_KEY_FILE));
    const QByteArray builtIn(reinterpret_cast<const char *>(PUBLIC_KEY), sizeof(PUBLIC_KEY));
    QCOMPARE(sizeof(PUBLIC_KEY), std::size_t(2048));
    QCOMPARE(builtIn.left(configured.size()), configured);
    QCOMPARE(builtIn.mid(configured.size()), QByteArray(2048 - configured.size(), '\0'));

    Key key;
    load_key(key.get(), PUBLIC_KEY, 2048);
    key.filled = true;
    QCOMPARE(key->type, int(PK_PUBLIC));
    QCOMPARE(exportKey(key, PK_PUBLIC), configured);
}

// Checks run on several pool threads at once with nothing but the shared
// registries between them.
void tst_CryptoFunctions::concurrentVerification()
{
    const QByteArray message = readBytes(SignedFile);
    const QByteArray signature = readBytes(SignedFile + QStringLiteral(".sig"));
    const QByteArray publicDer = readBytes(DemoPublicKey);
    std::atomic<int> valid {0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            for (int round = 0; round < 10; ++round) {
                Key key;
                importPadded(key, publicDer);
                if (verify(key, message, signature))
                    ++valid;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(valid.load(), 80);
}

void tst_CryptoFunctions::createSignVerifyRoundTrip()
{
    Key pair;
    create_key(pair.get());
    pair.filled = true;
    QCOMPARE(pair->type, int(PK_PRIVATE));
    QCOMPARE(rsa_get_size(pair.get()), 128);
    QCOMPARE(ltc_mp.get_int(pair->e), 65537ul);

    const QByteArray publicDer = exportKey(pair, PK_PUBLIC);
    QCOMPARE(publicDer.size(), 140);
    Key publicKey;
    importPadded(publicKey, publicDer);
    QCOMPARE(publicKey->type, int(PK_PUBLIC));

    for (const QByteArray &message : {QByteArray(), QByteArray("release"), QByteArray(5000, 'x')}) {
        const QByteArray signature = sign(pair, message);
        QCOMPARE(signature.size(), 128);
        QVERIFY(verify(publicKey, message, signature));
        QVERIFY(!verify(publicKey, message + 'x', signature));
    }
    // The salt is random: two signatures of one message differ, both valid.
    QVERIFY(sign(pair, "same") != sign(pair, "same"));

    // A key from another pair rejects the signature: as invalid, or, when
    // the signature is no number below that key's modulus, with an exception.
    Key demo;
    importPadded(demo, readBytes(DemoPublicKey));
    for (int i = 0; i < 8; ++i) {
        bool valid = false;
        const QString thrown = thrownText([&] { valid = verify(demo, "release", sign(pair, "release")); });
        QVERIFY2(!valid, qPrintable(thrown));
        QVERIFY2(thrown.isNull() || thrown.startsWith(QStringLiteral("rsa_verify_hash: ")), qPrintable(thrown));
    }
}

void tst_CryptoFunctions::signBufferTooSmall()
{
    Key pair;
    importPadded(pair, readBytes(DemoPrivateKey));
    unsigned char out[64];
    unsigned long length = sizeof(out);
    const QString thrown = thrownText([&] { sign_msg(pair.get(), bytes("abc"), 3, out, &length); });
    QVERIFY2(thrown.startsWith(QStringLiteral("rsa_sign_hash: ")), qPrintable(thrown));
}

void tst_CryptoFunctions::keyFiles()
{
    Key pair;
    importPadded(pair, readBytes(DemoPrivateKey));
    QCOMPARE(pair->type, int(PK_PRIVATE));

    // save_key writes whole 2048-byte blobs that load_key reads back.
    const QString privateBlob = dir.filePath(QStringLiteral("private.blob"));
    const QString publicBlob = dir.filePath(QStringLiteral("public.blob"));
    save_key(pair.get(), PK_PRIVATE, QFile::encodeName(privateBlob).constData());
    save_key(pair.get(), PK_PUBLIC, QFile::encodeName(publicBlob).constData());
    QCOMPARE(QFileInfo(privateBlob).size(), qint64(2048));
    QCOMPARE(QFileInfo(publicBlob).size(), qint64(2048));
    QCOMPARE(readBytes(publicBlob).left(140), readBytes(DemoPublicKey));

    Key loadedPrivate;
    load_key(loadedPrivate.get(), QFile::encodeName(privateBlob).constData());
    loadedPrivate.filled = true;
    QCOMPARE(loadedPrivate->type, int(PK_PRIVATE));
    Key loadedPublic;
    load_key(loadedPublic.get(), QFile::encodeName(publicBlob).constData());
    loadedPublic.filled = true;
    QCOMPARE(loadedPublic->type, int(PK_PUBLIC));
    QVERIFY(verify(loadedPublic, "blob", sign(loadedPrivate, "blob")));

    // A plain DER file shorter than a blob loads as well.
    Key der;
    load_key(der.get(), QFile::encodeName(DemoPublicKey).constData());
    der.filled = true;
    QCOMPARE(exportKey(der, PK_PUBLIC), readBytes(DemoPublicKey));
}

void tst_CryptoFunctions::keyFileErrors()
{
    const QString missing = dir.filePath(QStringLiteral("missing.der"));
    Key key;
    QCOMPARE(thrownText([&] { load_key(key.get(), QFile::encodeName(missing).constData()); }),
             QStringLiteral("Cannot open file for reading: ") + missing);

    const QString garbage = dir.filePath(QStringLiteral("garbage.der"));
    writeBytes(garbage, QByteArray(140, 'g'));
    QVERIFY(thrownText([&] { load_key(key.get(), QFile::encodeName(garbage).constData()); })
                .startsWith(QStringLiteral("rsa_import: ")));

    // A failed export leaves no file behind: a public key has no private half.
    Key publicKey;
    importPadded(publicKey, readBytes(DemoPublicKey));
    const QString exported = dir.filePath(QStringLiteral("exported.blob"));
    QVERIFY(thrownText([&] {
                save_key(publicKey.get(), PK_PRIVATE, QFile::encodeName(exported).constData());
            }).startsWith(QStringLiteral("rsa_export: ")));
    QVERIFY(!QFile::exists(exported));

    const QString unwritable = dir.filePath(QStringLiteral("no/such/dir/key.blob"));
    QCOMPARE(thrownText([&] {
                 save_key(publicKey.get(), PK_PUBLIC, QFile::encodeName(unwritable).constData());
             }),
             QStringLiteral("Cannot open file for writing: ") + unwritable);
}

void tst_CryptoFunctions::readWriteFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("x");
    QTest::newRow("exactly one chunk") << QByteArray(2048, 'c');
    QTest::newRow("several chunks") << QByteArray(5000, '\x9c');
}

void tst_CryptoFunctions::readWriteFile()
{
    QFETCH(QByteArray, content);
    const QString path = dir.filePath(QStringLiteral("file.bin"));
    QByteArray data = content;
    write_file(QFile::encodeName(path).constData(), reinterpret_cast<unsigned char *>(data.data()),
               static_cast<unsigned long>(data.size()));
    QCOMPARE(readBytes(path), content);

    // The buffer given in is grown, not leaked.
    unsigned char *buffer = static_cast<unsigned char *>(std::malloc(16));
    unsigned long length = 12345;
    read_file(QFile::encodeName(path).constData(), &buffer, &length);
    const std::unique_ptr<unsigned char, decltype(&std::free)> owned(buffer, &std::free);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer), qsizetype(length)), content);
}

void tst_CryptoFunctions::fileErrors()
{
    const QString missing = dir.filePath(QStringLiteral("missing.bin"));
    unsigned char *buffer = nullptr;
    unsigned long length = 7;
    QCOMPARE(thrownText([&] { read_file(QFile::encodeName(missing).constData(), &buffer, &length); }),
             QStringLiteral("Cannot open file for reading: ") + missing);
    QCOMPARE(length, 0ul);

    // A directory opens but never reaches its end; it must not loop forever.
    const QString text = thrownText([&] { read_file(QFile::encodeName(dir.path()).constData(), &buffer, &length); });
    std::free(buffer);
    QCOMPARE(text, QStringLiteral("Cannot read file: ") + dir.path());

    const QString unwritable = dir.filePath(QStringLiteral("no/such/file.bin"));
    unsigned char byte = 1;
    QCOMPARE(thrownText([&] { write_file(QFile::encodeName(unwritable).constData(), &byte, 1); }),
             QStringLiteral("Cannot open file for writing: ") + unwritable);
    // A write that does not complete is reported, not taken for success.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        QCOMPARE(thrownText([&] { write_file("/dev/full", &byte, 1); }),
                 QStringLiteral("Cannot write file: /dev/full"));
    }
}

void tst_CryptoFunctions::opensslSignatureVerifies_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("[client_linux_x86]\nupdate=abc::1\n");
    QTest::newRow("binary, several blocks") << QByteArray(3000, '\0') + QByteArray(77, '\xff');
}

void tst_CryptoFunctions::opensslSignatureVerifies()
{
    QFETCH(QByteArray, message);
    demoPems();
    const QString path = dir.filePath(QStringLiteral("openssl_signed.bin"));
    writeBytes(path, message);
    runOpenssl(QStringList {QStringLiteral("dgst")} + PssOptions
               + QStringList {QStringLiteral("-sign"), privatePem, QStringLiteral("-out"),
                              path + QStringLiteral(".sig"), path});
    const QByteArray signature = readBytes(path + QStringLiteral(".sig"));
    QCOMPARE(signature.size(), 128);

    Key key;
    importPadded(key, readBytes(DemoPublicKey));
    QVERIFY(verify(key, message, signature));
    QVERIFY(!verify(key, message + '\n', signature));
}

void tst_CryptoFunctions::opensslVerifiesOurSignature()
{
    demoPems();
    Key pair;
    load_key(pair.get(), QFile::encodeName(DemoPrivateKey).constData());
    pair.filled = true;
    const QByteArray message = readBytes(SignedFile) + QByteArray(4096, 'z');
    const QString path = dir.filePath(QStringLiteral("ours.bin"));
    writeBytes(path, message);
    writeBytes(path + QStringLiteral(".sig"), sign(pair, message));

    const QStringList verifyArguments = QStringList {QStringLiteral("dgst")} + PssOptions
        + QStringList {QStringLiteral("-verify"), publicPem, QStringLiteral("-signature"),
                       path + QStringLiteral(".sig"), path};
    int exitCode = -1;
    const QString output = runOpenssl(verifyArguments, &exitCode);
    QCOMPARE(exitCode, 0);
    QVERIFY2(output.contains(QStringLiteral("Verified OK")), qPrintable(output));

    writeBytes(path, message + 'x');
    runOpenssl(verifyArguments, &exitCode);
    QCOMPARE(exitCode, 1);
}

QTEST_GUILESS_MAIN(tst_CryptoFunctions)
#include "tst_cryptofunctions.moc"
