#pragma once

#include "crypto/cryptexception.h"

#include <tomcrypt.h>

// A thin procedural layer over LibTomCrypt: RSA-PSS signatures with SHA-1 and
// a salt of 8 bytes, keys in PKCS#1 DER, and the key built into the updater.
// Every library error is thrown as crypt_exception; a signature that simply
// does not match is not an error.

// Keys are LibTomCrypt's RSA key structure, Rsa_key (also named rsa_key).
// The caller owns it; once load_key or create_key has filled it, release it
// with rsa_free. A call that throws leaves nothing to release.

// Registry slots of SHA-1 and of the system random source; set by crypt_init.
extern int hash_idx;
extern int prng_idx;

// The public key every product ini signature is checked against: its PKCS#1
// DER encoding, padded with zeros. Generated at build time from the file that
// the HALVEX_PUBLIC_KEY build setting names.
extern const unsigned char PUBLIC_KEY[2048];

// Size of a key blob: the buffer that keys are imported from and that
// save_key writes whole.
constexpr unsigned long KEY_BLOB_SIZE = 2048;

// Registers the random source and SHA-1 and selects the big-number library.
// Safe to call again: the registry slots stay the same.
void crypt_init();

// SHA-1 of the first len bytes of in; out receives 20 bytes.
void hash_msg(const unsigned char *in, unsigned long len, unsigned char *out);

// Throws crypt_exception "name: <library text>" unless err is CRYPT_OK.
void check_err(const char *name, int err);

// True only when sig is a valid signature of the message under key. Throws
// when the library rejects the input, for example a signature whose length is
// not the key's modulus length.
bool verify_msg(Rsa_key *key, const unsigned char *data, unsigned long dataLen,
                unsigned char *sig, unsigned long sigLen);

// As verify_msg, for a message whose 20-byte SHA-1 digest has already been
// computed, so that large files can be hashed as a stream.
bool verify_hash(Rsa_key *key, const unsigned char *digest, unsigned char *sig,
                 unsigned long sigLen);

// Imports a PKCS#1 DER key from memory; trailing bytes after the key are ignored.
void load_key(Rsa_key *key, const unsigned char *in, unsigned long len);

// Signs the message; *outlen gives the size of out and receives the length of
// the signature (the key's modulus length).
void sign_msg(Rsa_key *key, const unsigned char *data, unsigned long len, unsigned char *out,
              unsigned long *outlen);

// A new 1024-bit key pair with public exponent 65537.
void create_key(Rsa_key *key);

// Writes the key, exported as type (PK_PUBLIC or PK_PRIVATE), as a 2048-byte
// blob. Nothing is written when the export fails.
void save_key(Rsa_key *key, int type, const char *path);

// Imports a key from a file of at most 2048 bytes: a blob written by save_key
// or a plain DER key file. Throws when the file cannot be opened.
void load_key(Rsa_key *key, const char *path);

// Reads a whole file into *buf, which the caller passes as null or from
// malloc and releases with free; *len receives its length.
void read_file(const char *path, unsigned char **buf, unsigned long *len);

void write_file(const char *path, unsigned char *buf, unsigned long len);
