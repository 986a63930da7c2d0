// LibTomCrypt declares its LibTomMath descriptor only on request.
#define LTM_DESC
#include "cryptfunctions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int hash_idx = -1;
int prng_idx = -1;

namespace {

constexpr unsigned long SHA1_SIZE = 20;
constexpr unsigned long PSS_SALT_LENGTH = 8;

// LibTomCrypt aborts the process on a null buffer even when its length is 0,
// and an empty byte array may well hand one over.
unsigned char *non_null(unsigned char *buffer)
{
    static unsigned char empty = 0;
    return buffer != nullptr ? buffer : &empty;
}

// Without a math provider every RSA call would jump through null pointers;
// fail with a readable text instead.
void require_init()
{
    if (ltc_mp.name == nullptr || hash_idx < 0 || prng_idx < 0)
        throw crypt_exception("crypt_init has not been called");
}

} // namespace

void crypt_init()
{
    if (register_prng(&sprng_desc) == -1)
        throw crypt_exception("Error registering sprng");
    // Checks may still be running on pool threads when a new update run
    // initialises again: leave the shared descriptor alone once it is set.
    if (ltc_mp.name != ltm_desc.name)
        ltc_mp = ltm_desc;
    if (register_hash(&sha1_desc) == -1)
        throw crypt_exception("Error registering sha1");
    const int hash = find_hash("sha1");
    const int prng = find_prng("sprng");
    if (hash_idx != hash)
        hash_idx = hash;
    if (prng_idx != prng)
        prng_idx = prng;
}

void hash_msg(const unsigned char *in, unsigned long len, unsigned char *out)
{
    hash_state state;
    sha1_init(&state);
    if (len > 0)
        sha1_process(&state, in, len);
    sha1_done(&state, out);
}

void check_err(const char *name, int err)
{
    if (err == CRYPT_OK)
        return;
    throw crypt_exception(std::string(name) + ": " + error_to_string(err));
}

bool verify_hash(Rsa_key *key, const unsigned char *digest, unsigned char *sig,
                 unsigned long sigLen)
{
    require_init();
    if (sig == nullptr && sigLen > 0)
        throw crypt_exception("rsa_verify_hash: no signature data");
    int stat = 0;
    check_err("rsa_verify_hash",
              rsa_verify_hash_ex(non_null(sig), sigLen, digest, SHA1_SIZE, LTC_PKCS_1_PSS, hash_idx,
                                 PSS_SALT_LENGTH, &stat, key));
    return stat == 1;
}

bool verify_msg(Rsa_key *key, const unsigned char *data, unsigned long dataLen,
                unsigned char *sig, unsigned long sigLen)
{
    unsigned char digest[SHA1_SIZE];
    hash_msg(data, dataLen, digest);
    return verify_hash(key, digest, sig, sigLen);
}

void load_key(Rsa_key *key, const unsigned char *in, unsigned long len)
{
    require_init();
    check_err("rsa_import", rsa_import(in, len, key));
}

void sign_msg(Rsa_key *key, const unsigned char *data, unsigned long len, unsigned char *out,
              unsigned long *outlen)
{
    require_init();
    unsigned char digest[SHA1_SIZE];
    hash_msg(data, len, digest);
    check_err("rsa_sign_hash",
              rsa_sign_hash_ex(digest, SHA1_SIZE, out, outlen, LTC_PKCS_1_PSS, nullptr, prng_idx,
                               hash_idx, PSS_SALT_LENGTH, key));
}

void create_key(Rsa_key *key)
{
    require_init();
    check_err("rsa_make_key", rsa_make_key(nullptr, prng_idx, 128, 65537, key));
}

void save_key(Rsa_key *key, int type, const char *path)
{
    unsigned char blob[KEY_BLOB_SIZE] = {};
    unsigned long length = KEY_BLOB_SIZE;
    check_err("rsa_export", rsa_export(blob, &length, type, key));
    write_file(path, blob, KEY_BLOB_SIZE);
}

void load_key(Rsa_key *key, const char *path)
{
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        throw crypt_exception(std::string("Cannot open file for reading: ") + path);
    // A shorter file leaves zeros behind the key, which the import ignores
    // because the key's DER header gives its length.
    unsigned char blob[KEY_BLOB_SIZE] = {};
    (void)std::fread(blob, 1, KEY_BLOB_SIZE, file);
    std::fclose(file);
    load_key(key, blob, KEY_BLOB_SIZE);
}

void read_file(const char *path, unsigned char **buf, unsigned long *len)
{
    *len = 0;
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        throw crypt_exception(std::string("Cannot open file for reading: ") + path);
    // A read error ends the loop too: reading a directory, for one, never
    // reaches the end of the file.
    while (!std::feof(file)) {
        if (std::ferror(file)) {
            std::fclose(file);
            throw crypt_exception(std::string("Cannot read file: ") + path);
        }
        auto *grown = static_cast<unsigned char *>(std::realloc(*buf, *len + KEY_BLOB_SIZE));
        if (grown == nullptr) {
            std::fclose(file);
            throw crypt_exception(std::string("Out of memory reading: ") + path);
        }
        *buf = grown;
        *len += std::fread(*buf + *len, 1, KEY_BLOB_SIZE, file);
    }
    std::fclose(file);
}

void write_file(const char *path, unsigned char *buf, unsigned long len)
{
    FILE *file = std::fopen(path, "wb");
    if (file == nullptr)
        throw crypt_exception(std::string("Cannot open file for writing: ") + path);
    // A full disk must not leave a truncated key or signature that looks
    // written.
    const bool complete = std::fwrite(non_null(buf), 1, len, file) == len;
    if (std::fclose(file) != 0 || !complete)
        throw crypt_exception(std::string("Cannot write file: ") + path);
}
