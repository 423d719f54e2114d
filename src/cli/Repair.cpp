#include "Repair.h"

#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <cstdio>
#include <string>

#include "Manifest.h"
#include "Messages.h"
#include "engine/Manifest.h"
#include "engine/kernels/Sha256.h"
#include "engine/recovery/Par2Repair.h"
#include "engine/recovery/Par2Stale.h"
#include "fileio/FileQuery.h"

namespace tessera::cli {

namespace {

std::string FaultText(Par2Fault fault)
{
    switch (fault) {
    case Par2Fault::Open: return "cannot be read";
    case Par2Fault::BadLength: return "a packet with an impossible length";
    case Par2Fault::BadChecksum: return "a damaged packet";
    case Par2Fault::Unknown: return "a packet of an unknown type";
    case Par2Fault::Malformed: return "a malformed packet";
    case Par2Fault::OtherSet: return "a packet of another recovery set";
    case Par2Fault::BadSliceSize: return "a slice size of 0 or not a multiple of 4";
    case Par2Fault::TooManySlices: return "more slices than a recovery set may hold";
    case Par2Fault::NoMainPacket: return "no intact main packet";
    case Par2Fault::MissingFileDescription: return "a file of the set is not described";
    case Par2Fault::MissingSliceChecksums: return "a file's slice checksums are missing";
    case Par2Fault::RecoverySliceSize: return "a recovery slice of the wrong size";
    }
    return "a fault";
}

}  // namespace

int RunRepair(const Options& options)
{
    const std::string& named = options.recoverySet;
    if (const int state = NameState(named); state != 0)
        return Fail(WithError("cannot read " + Quoted(named), state));
    const Par2Set set = ReadPar2Set(named);
    // Passed-over packets are told, as the set may still be whole without them.
    for (const Par2FaultAt& fault : set.faults) {
        if (fault.fault == Par2Fault::Unknown)
            continue;
        const std::string where = fault.file < set.paths.size() ? set.paths[fault.file] : named;
        std::string text = Quoted(where) + " at byte " + std::to_string(fault.offset) + ": " + FaultText(fault.fault);
        if (fault.errorNumber != 0)
            text = WithError(text, fault.errorNumber);
        if (!options.quiet || !set.usable)
            std::fprintf(stderr, "tessera-cli: %s\n", text.c_str());
    }
    if (!set.usable)
        return Fail(Quoted(named) + " is not a usable recovery set");
    const std::string folder = Par2Folder(named);
    const Par2Check check = CheckPar2Set(set, folder);
    if (check.state == Par2State::Intact) {
        if (!options.quiet)
            std::printf("%zu files intact: nothing to repair\n", set.files.size());
        return kExitDone;
    }
    if (check.state == Par2State::NotRepairable) {
        if (check.shortBy == 0)
            return Fail("not repairable: a file's name leaves the set's folder");
        return Fail("not repairable: " + std::to_string(check.badSlices) + " slices damaged or missing, " +
                    std::to_string(check.recoverySlices) + " recovery slices: needs " +
                    std::to_string(check.shortBy) + " more recovery slices; nothing changed");
    }
    // A file that the checksum file beside the set finds intact is newer
    // than the set: nothing of a stale set is used.
    if (const std::string manifest = ChecksumFileBesideSet(named); NameState(manifest) == 0) {
        if (const std::string why = Sha256::Load(); !why.empty())
            return Fail("cannot check " + Quoted(manifest) + ": " + why);
        const std::atomic<bool> never{false};
        const StaleFinding stale = FindStaleFiles(set, check, folder, manifest, never);
        if (stale.read.fault != ManifestFault::None)
            std::fprintf(stderr, "tessera-cli: %s; repairing without it\n",
                         ManifestReadMessage(manifest, stale.read).c_str());
        if (!stale.files.empty())
            return Fail("not repairing: " + Quoted(manifest) + " finds " + Quoted(set.files[stale.files[0]].name) +
                        " intact, which " + Quoted(named) + " finds damaged: the set is older than the files; nothing changed");
    }
    const Par2RepairResult result = RepairPar2Set(set, check, folder);
    switch (result.fault) {
    case Par2RepairFault::None: break;
    case Par2RepairFault::NotUsable: return Fail(Quoted(named) + " is not a usable recovery set");
    case Par2RepairFault::NotEnough:
        return Fail("not repairable: needs " + std::to_string(result.needed) +
                    " more recovery slices; nothing changed");
    case Par2RepairFault::UnsafeName:
        return Fail("not repairable: " + Quoted(result.path) + " leaves the set's folder or is listed twice");
    case Par2RepairFault::TooLarge:
        return Fail("not repairable here: the computation needs " + std::to_string((result.memoryNeeded + (1 << 20) - 1) >> 20) +
                    " MiB, more than its " + std::to_string(kPar2RepairMemory >> 20) + " MiB; nothing changed");
    case Par2RepairFault::Stopped: return Fail("stopped; nothing changed");
    case Par2RepairFault::Singular:
        return Fail("not repairable: the recovery slices present do not determine the lost ones; nothing changed");
    case Par2RepairFault::Read: return Fail(WithError("cannot read " + Quoted(result.path), result.error));
    case Par2RepairFault::Write:
        return Fail(WithError("cannot write " + Quoted(result.path), result.error) + "; the old file is unchanged");
    case Par2RepairFault::Mismatch:
        return Fail("the rebuilt " + Quoted(result.path) + " does not match its checksum; the old file is unchanged");
    }
    for (const Par2Rebuilt& rebuilt : result.rebuilt) {
        if (rebuilt.keptAs.empty())
            std::printf("%s: created\n", ShownName(set.files[rebuilt.file].name).c_str());
        else
            std::printf("%s: repaired; the damaged file kept as %s\n", ShownName(set.files[rebuilt.file].name).c_str(),
                        Quoted(rebuilt.keptAs).c_str());
    }
    if (!options.quiet)
        std::printf("%zu files rebuilt from %llu recovery slices\n", result.rebuilt.size(),
                    static_cast<unsigned long long>(result.slicesRebuilt));
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail(WithError("cannot write the report", errno));
    return kExitDone;
}

}  // namespace tessera::cli
