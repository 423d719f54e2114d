#include "Admission.h"

#include <sys/stat.h>

#include <cerrno>

namespace tessera {

int Admission::Errno() const
{
    switch (refusal) {
    case Refusal::NotFound:
    case Refusal::Open:
    case Refusal::Read: return error;
    case Refusal::NotRegular: return type == S_IFDIR ? EISDIR : 0;
    case Refusal::None:
    case Refusal::LongerThanSize: break;
    }
    return 0;
}

Admission AdmitOpenFile(NFile& file)
{
    Admission admission;
    FileStatus status = file.Status();
    if (status.error == ENOSYS) {
        // A kind of file that keeps no status of its own says what it can.
        status.type = file.FileType();
        status.size = file.GetSize();
        status.error = 0;
        if (status.type == 0 || (status.type == S_IFREG && status.size < 0))
            status.error = file.LastError() != 0 ? file.LastError() : EIO;
    }
    if (!status.Found()) {
        admission.refusal = Admission::Refusal::Open;
        admission.error = status.error;
        return admission;
    }
    admission.type = status.type;
    if (status.type != S_IFREG) {
        admission.refusal = Admission::Refusal::NotRegular;
        return admission;
    }
    admission.size = status.size;
    // The size is only worth going by when the file ends there.
    char extra = 0;
    const bool seeks = file.Seek(status.size, 0);
    const std::uint32_t more = seeks ? file.Read(&extra, 1) : 0;
    const int error = !seeks ? file.LastError() : more == 0 ? file.LastError() : 0;
    if (more != 0) {
        admission.refusal = Admission::Refusal::LongerThanSize;
    } else if (error != 0 || !file.Seek(0, 0)) {
        admission.refusal = Admission::Refusal::Read;
        admission.error = error != 0 ? error : file.LastError();
    }
    return admission;
}

Admission AdmitFile(const std::string& path, const FileSystem& files, std::unique_ptr<NFile>* file)
{
    Admission admission;
    const FileStatus named = files.Status(path, Links::Follow);
    if (!named.Found()) {
        admission.refusal = Admission::Refusal::NotFound;
        admission.error = named.error;
        return admission;
    }
    admission.type = named.type;
    if (named.type != S_IFREG) {
        admission.refusal = Admission::Refusal::NotRegular;
        return admission;
    }
    std::unique_ptr<NFile> opened = files.Open(path, NFilePSDK::Form::Reading);
    if (!opened->IsOpen()) {
        admission.refusal = Admission::Refusal::Open;
        admission.error = opened->LastError();
        return admission;
    }
    admission = AdmitOpenFile(*opened);
    if (admission.Admitted() && file)
        *file = std::move(opened);
    return admission;
}

}  // namespace tessera
