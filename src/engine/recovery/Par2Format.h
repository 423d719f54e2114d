#pragma once

#include <array>
#include <cstddef>

// What the recovery set's reader and writer agree on: every packet begins
// with the magic, its length, its MD5, the set's id and its type (64 bytes).
namespace tessera::par2 {

inline constexpr char kMagic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};
inline constexpr std::size_t kHeader = 64;

using Type = std::array<char, 16>;
constexpr Type MakeType(const char (&text)[17])
{
    Type type{};
    for (int i = 0; i < 16; ++i)
        type[i] = text[i];
    return type;
}
inline constexpr Type kMain = MakeType("PAR 2.0\0Main\0\0\0\0");
inline constexpr Type kFileDesc = MakeType("PAR 2.0\0FileDesc");
inline constexpr Type kSliceChecksums = MakeType("PAR 2.0\0IFSC\0\0\0\0");
inline constexpr Type kRecoverySlice = MakeType("PAR 2.0\0RecvSlic");
inline constexpr Type kCreator = MakeType("PAR 2.0\0Creator\0");

}  // namespace tessera::par2
