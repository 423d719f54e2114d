#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessera {

// Two SHA-256 digests over the same bytes on one core, on the processor's SHA
// instructions. libcrypto hashes one stream at a time, and one stream cannot
// keep the SHA unit busy: its rounds wait on each other. Two independent
// streams interleaved fill the gaps, so a part's digest and the whole
// source's cost about 1.3 times one digest instead of twice. The first digest
// is the one that starts over (a part's), the second runs on (the source's).
class Sha256Pair {
public:
    // True when this processor has the SHA instructions within
    // cpu::Usable(); without them no Sha256Pair may be made.
    [[nodiscard]] static bool Available();

    Sha256Pair();

    // Both digests take the bytes.
    void Update(const void* data, std::size_t size);
    // Only the first, or only the second, takes them.
    void UpdateFirst(const void* data, std::size_t size);
    void UpdateSecond(const void* data, std::size_t size);

    // A digest of everything it took since its last Finish, in lowercase hex;
    // it then starts over.
    [[nodiscard]] std::string FinishFirst();
    [[nodiscard]] std::string FinishSecond();

    // One stream's state: the chaining value, the bytes of an unfinished
    // block and how many were taken in all.
    struct Lane {
        std::uint32_t h[8];
        std::uint8_t pending[64];
        std::uint32_t held;
        std::uint64_t total;
    };

private:
    Lane first_;
    Lane second_;
};

}  // namespace tessera
