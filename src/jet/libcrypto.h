// SPDX-License-Identifier: Apache-2.0
// OpenSSL's libcrypto, loaded on first need (internal to src/jet). Only an
// encrypted file needs it, and loading it at start-up costs about a
// millisecond of every run, more than reading a small table: the decryption
// (encryption.cpp) calls it through the functions found here once
// LoadLibcrypto has succeeded. Each OpenSSL name below stands for its
// counterpart in the loaded library; a function of libcrypto not listed
// here would link the library at start-up again.
#ifndef JET_LIBCRYPTO_H_
#define JET_LIBCRYPTO_H_

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#define JET_LIBCRYPTO_FUNCTIONS(X)                                                                               \
  X(CRYPTO_memcmp)                                                                                               \
  X(EVP_CIPHER_CTX_free)                                                                                         \
  X(EVP_CIPHER_CTX_new)                                                                                          \
  X(EVP_CIPHER_CTX_set_key_length)                                                                               \
  X(EVP_CIPHER_CTX_set_padding)                                                                                  \
  X(EVP_CIPHER_fetch)                                                                                            \
  X(EVP_DecodeBlock)                                                                                             \
  X(EVP_DecryptFinal_ex)                                                                                         \
  X(EVP_DecryptInit_ex2)                                                                                         \
  X(EVP_DecryptUpdate)                                                                                           \
  X(EVP_Digest)                                                                                                  \
  X(EVP_DigestFinal_ex)                                                                                          \
  X(EVP_DigestInit_ex2)                                                                                          \
  X(EVP_DigestUpdate)                                                                                            \
  X(EVP_MD_CTX_free)                                                                                             \
  X(EVP_MD_CTX_new)                                                                                              \
  X(EVP_MD_get_size)                                                                                             \
  X(EVP_aes_128_cbc)                                                                                             \
  X(EVP_aes_128_ecb)                                                                                             \
  X(EVP_aes_192_cbc)                                                                                             \
  X(EVP_aes_192_ecb)                                                                                             \
  X(EVP_aes_256_cbc)                                                                                             \
  X(EVP_aes_256_ecb)                                                                                             \
  X(EVP_sha1)                                                                                                    \
  X(EVP_sha256)                                                                                                  \
  X(EVP_sha384)                                                                                                  \
  X(EVP_sha512)                                                                                                  \
  X(OPENSSL_cleanse)                                                                                             \
  X(OSSL_LIB_CTX_new)                                                                                            \
  X(OSSL_PROVIDER_load)

namespace jet {

struct Libcrypto {
#define JET_LIBCRYPTO_MEMBER(name) decltype(&::name) name##_ = nullptr;
  JET_LIBCRYPTO_FUNCTIONS(JET_LIBCRYPTO_MEMBER)
#undef JET_LIBCRYPTO_MEMBER
};

// Loads libcrypto.so.3 and finds every function listed, once per process;
// false when the library or one of them is missing.
bool LoadLibcrypto();
// The functions found; valid only after LoadLibcrypto returned true.
const Libcrypto& LoadedLibcrypto();

}  // namespace jet

#ifndef JET_LIBCRYPTO_LOADER
#define CRYPTO_memcmp jet::LoadedLibcrypto().CRYPTO_memcmp_
#define EVP_CIPHER_CTX_free jet::LoadedLibcrypto().EVP_CIPHER_CTX_free_
#define EVP_CIPHER_CTX_new jet::LoadedLibcrypto().EVP_CIPHER_CTX_new_
#define EVP_CIPHER_CTX_set_key_length jet::LoadedLibcrypto().EVP_CIPHER_CTX_set_key_length_
#define EVP_CIPHER_CTX_set_padding jet::LoadedLibcrypto().EVP_CIPHER_CTX_set_padding_
#define EVP_CIPHER_fetch jet::LoadedLibcrypto().EVP_CIPHER_fetch_
#define EVP_DecodeBlock jet::LoadedLibcrypto().EVP_DecodeBlock_
#define EVP_DecryptFinal_ex jet::LoadedLibcrypto().EVP_DecryptFinal_ex_
#define EVP_DecryptInit_ex2 jet::LoadedLibcrypto().EVP_DecryptInit_ex2_
#define EVP_DecryptUpdate jet::LoadedLibcrypto().EVP_DecryptUpdate_
#define EVP_Digest jet::LoadedLibcrypto().EVP_Digest_
#define EVP_DigestFinal_ex jet::LoadedLibcrypto().EVP_DigestFinal_ex_
#define EVP_DigestInit_ex2 jet::LoadedLibcrypto().EVP_DigestInit_ex2_
#define EVP_DigestUpdate jet::LoadedLibcrypto().EVP_DigestUpdate_
#define EVP_MD_CTX_free jet::LoadedLibcrypto().EVP_MD_CTX_free_
#define EVP_MD_CTX_new jet::LoadedLibcrypto().EVP_MD_CTX_new_
#define EVP_MD_get_size jet::LoadedLibcrypto().EVP_MD_get_size_
#define EVP_aes_128_cbc jet::LoadedLibcrypto().EVP_aes_128_cbc_
#define EVP_aes_128_ecb jet::LoadedLibcrypto().EVP_aes_128_ecb_
#define EVP_aes_192_cbc jet::LoadedLibcrypto().EVP_aes_192_cbc_
#define EVP_aes_192_ecb jet::LoadedLibcrypto().EVP_aes_192_ecb_
#define EVP_aes_256_cbc jet::LoadedLibcrypto().EVP_aes_256_cbc_
#define EVP_aes_256_ecb jet::LoadedLibcrypto().EVP_aes_256_ecb_
#define EVP_sha1 jet::LoadedLibcrypto().EVP_sha1_
#define EVP_sha256 jet::LoadedLibcrypto().EVP_sha256_
#define EVP_sha384 jet::LoadedLibcrypto().EVP_sha384_
#define EVP_sha512 jet::LoadedLibcrypto().EVP_sha512_
#define OPENSSL_cleanse jet::LoadedLibcrypto().OPENSSL_cleanse_
#define OSSL_LIB_CTX_new jet::LoadedLibcrypto().OSSL_LIB_CTX_new_
#define OSSL_PROVIDER_load jet::LoadedLibcrypto().OSSL_PROVIDER_load_
#endif

#endif  // JET_LIBCRYPTO_H_
