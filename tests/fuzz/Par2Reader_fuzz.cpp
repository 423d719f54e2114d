// The recovery set reader: whatever the bytes, it never reads outside its
// files, never crashes or allocates from a size it was told, and what it
// assembles holds together: slices inside their files, exponents in order
// and unique, counts within the format's limits.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "engine/recovery/Par2Reader.h"

using namespace tessera;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    // The payload is cut in two files at this point (past its end: one file).
    const std::size_t cut = static_cast<std::size_t>(in.Take(2));
    const std::string payload(in.rest());
    std::vector<std::string> files;
    if (cut < payload.size()) {
        files.push_back(payload.substr(0, cut));
        files.push_back(payload.substr(cut));
    } else {
        files.push_back(payload);
    }
    std::vector<std::string> paths;
    std::vector<Par2Source> sources;
    for (const std::string& file : files) {
        paths.push_back("f");
        Par2Source source;
        source.size = file.size();
        source.read = [&file](std::uint64_t offset, void* buffer, std::size_t n) {
            Check(offset <= file.size() && n <= file.size() - offset, "read past the end of a file");
            std::memcpy(buffer, file.data() + offset, n);
            return true;
        };
        sources.push_back(std::move(source));
    }
    const Par2Set set = ReadPar2Sources(paths, sources);

    Check(set.faults.size() <= 1000, "faults not capped");
    for (const Par2FaultAt& fault : set.faults)
        Check(fault.file < files.size() && fault.offset <= files[fault.file].size(), "fault outside the files");
    if (!set.usable) {
        Check(set.recovery.empty() || set.sliceSize != 0, "recovery slices of an unusable slice size");
        return 0;
    }
    Check(set.sliceSize > 0 && set.sliceSize % 4 == 0, "usable with an impossible slice size");
    Check(set.inputSlices <= kPar2MaxInputSlices, "slices past the format's limit");
    std::uint64_t slices = 0;
    for (const Par2File& file : set.files) {
        Check(file.described, "usable with a file undescribed");
        const std::uint64_t count = file.length / set.sliceSize + (file.length % set.sliceSize != 0);
        Check(file.firstSlice == slices, "slices not numbered in order");
        Check(file.slices.empty() || file.slices.size() == count, "checksums not one per slice");
        Check(file.name.find('\0') == std::string::npos, "a name holding NUL");
        slices += count;
    }
    Check(slices == set.inputSlices, "slice count not the files' sum");
    for (std::size_t i = 0; i < set.recovery.size(); ++i) {
        const Par2RecoverySlice& slice = set.recovery[i];
        Check(slice.exponent <= kPar2MaxExponent, "exponent past the limit");
        Check(i == 0 || set.recovery[i - 1].exponent < slice.exponent, "exponents not ascending and unique");
        Check(slice.file < files.size() && slice.dataOffset <= files[slice.file].size() &&
                  set.sliceSize <= files[slice.file].size() - slice.dataOffset,
              "recovery slice outside its file");
    }
    return 0;
}
