#include "Sha256.h"

#include <openssl/evp.h>

#include <new>

namespace tessera {

struct Sha256::Context {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : context_(std::make_unique<Context>())
{
    if (context_->ctx == nullptr || EVP_DigestInit_ex(context_->ctx, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size)
{
    EVP_DigestUpdate(context_->ctx, data, size);
}

std::string Sha256::Finish()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->ctx, digest, &length);
    EVP_DigestInit_ex(context_->ctx, EVP_sha256(), nullptr);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

}  // namespace tessera
