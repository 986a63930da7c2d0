// Build-time check of the key that is compiled into the updater: the file
// must import exactly as the updater imports it (the 2048-byte padded array)
// and must be the public half of an RSA key pair.
#include "cryptfunctions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s KEY.der\n", argv[0]);
        return 2;
    }
    const char *path = argv[1];
    try {
        unsigned char *data = nullptr;
        unsigned long length = 0;
        read_file(path, &data, &length);
        std::vector<unsigned char> padded(KEY_BLOB_SIZE, 0);
        const bool fits = length > 0 && length <= KEY_BLOB_SIZE;
        if (fits)
            std::copy(data, data + length, padded.begin());
        std::free(data);
        if (!fits) {
            std::fprintf(stderr, "%s: %lu bytes; expected a DER key of 1 to %lu bytes\n", path,
                         length, KEY_BLOB_SIZE);
            return 1;
        }
        crypt_init();
        Rsa_key key;
        load_key(&key, padded.data(), KEY_BLOB_SIZE);
        const int type = key.type;
        const int bits = rsa_get_size(&key) * 8;
        rsa_free(&key);
        if (type != PK_PUBLIC) {
            std::fprintf(stderr,
                         "%s is a private key; the updater must be built with the public half "
                         "only (halvex-release keygen writes it as public.der)\n",
                         path);
            return 1;
        }
        std::printf("RSA public key, %d bit\n", bits);
        return 0;
    } catch (const crypt_exception &e) {
        std::fprintf(stderr, "%s does not import as an RSA public key (PKCS#1 DER): %s\n", path,
                     e.what());
        return 1;
    }
}
