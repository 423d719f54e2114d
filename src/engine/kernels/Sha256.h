#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace tessera {

// SHA-256 through libcrypto, which uses the processor's SHA instructions.
// libcrypto is loaded when the first digest is asked for.
class Sha256 {
public:
    // Loads libcrypto if it is not yet; empty when it is there, else why it
    // is not. A digest cannot be made without it (the constructor throws
    // std::bad_alloc).
    [[nodiscard]] static std::string Load();

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest of everything since the last Finish, in lowercase hex; the
    // object then starts over.
    [[nodiscard]] std::string Finish();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

}  // namespace tessera
