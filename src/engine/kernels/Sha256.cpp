#include "engine/kernels/Sha256.h"

#include <dlfcn.h>
#include <openssl/evp.h>

#include <mutex>
#include <new>

#ifndef TESSERA_LIBCRYPTO
#define TESSERA_LIBCRYPTO "libcrypto.so.3"
#endif

namespace tessera {

namespace {

// libcrypto is loaded on the first digest asked for, not at every start: a
// command that hashes nothing starts as fast as one without it.
struct Crypto {
    decltype(&EVP_MD_CTX_new) ctxNew = nullptr;
    decltype(&EVP_MD_CTX_free) ctxFree = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&EVP_DigestInit_ex) init = nullptr;
    decltype(&EVP_DigestUpdate) update = nullptr;
    decltype(&EVP_DigestFinal_ex) final = nullptr;
    std::string error;
};

template <typename F>
bool Resolve(void* library, const char* name, F& function, std::string& error)
{
    function = reinterpret_cast<F>(::dlsym(library, name));
    if (function == nullptr && error.empty())
        error = std::string("cannot load ") + TESSERA_LIBCRYPTO + ": " + name + " not found";
    return function != nullptr;
}

const Crypto& Library()
{
    static Crypto crypto;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = ::dlopen(TESSERA_LIBCRYPTO, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* why = ::dlerror();
            crypto.error = why ? why : std::string("cannot load ") + TESSERA_LIBCRYPTO;
            return;
        }
        Crypto found;
        std::string& error = crypto.error;
        if (Resolve(library, "EVP_MD_CTX_new", found.ctxNew, error) &&
            Resolve(library, "EVP_MD_CTX_free", found.ctxFree, error) &&
            Resolve(library, "EVP_sha256", found.sha256, error) &&
            Resolve(library, "EVP_DigestInit_ex", found.init, error) &&
            Resolve(library, "EVP_DigestUpdate", found.update, error) &&
            Resolve(library, "EVP_DigestFinal_ex", found.final, error)) {
            found.error.clear();
            crypto = found;
        }
    });
    return crypto;
}

}  // namespace

std::string Sha256::Load()
{
    return Library().error;
}

struct Sha256::Context {
    EVP_MD_CTX* ctx = nullptr;
    ~Context()
    {
        if (ctx != nullptr)
            Library().ctxFree(ctx);
    }
};

Sha256::Sha256() : context_(std::make_unique<Context>())
{
    const Crypto& crypto = Library();
    if (!crypto.error.empty())
        throw std::bad_alloc();
    context_->ctx = crypto.ctxNew();
    if (context_->ctx == nullptr || crypto.init(context_->ctx, crypto.sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size)
{
    Library().update(context_->ctx, data, size);
}

std::string Sha256::Finish()
{
    const Crypto& crypto = Library();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    crypto.final(context_->ctx, digest, &length);
    crypto.init(context_->ctx, crypto.sha256(), nullptr);
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
