#include "platform/WorkProgress.h"

namespace {

// The job's bytes moved so far; false where the system can't tell (Wine).
bool JobTransfers(HANDLE job, uint64_t& transfers)
{
    JOBOBJECT_BASIC_AND_IO_ACCOUNTING_INFORMATION info = {};
    if (job == nullptr ||
        !::QueryInformationJobObject(job, JobObjectBasicAndIoAccountingInformation, &info,
                                     sizeof(info), nullptr)) {
        return false;
    }
    transfers = info.IoInfo.ReadTransferCount + info.IoInfo.WriteTransferCount +
                info.IoInfo.OtherTransferCount;
    return true;
}

// The file's last-write time and size through `watch.file`, opening it once it is there. It
// is opened for its attributes only and shares reading, writing and deletion, so the writer,
// a rename and a removal are never hindered by it.
bool FileState(WorkProgress& watch, uint64_t& lastWrite, uint64_t& size)
{
    if (!watch.file.IsValid()) {
        watch.file.Reset(::CreateFileW(watch.path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!watch.file.IsValid()) {
            return false;
        }
    }
    FILE_BASIC_INFO basic = {};
    LARGE_INTEGER length = {};
    if (!::GetFileInformationByHandleEx(watch.file.Get(), FileBasicInfo, &basic, sizeof(basic)) ||
        !::GetFileSizeEx(watch.file.Get(), &length)) {
        return false;
    }
    lastWrite = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
    size = static_cast<uint64_t>(length.QuadPart);
    return true;
}

} // namespace

void WatchWork(WorkProgress& watch, const std::wstring& path, HANDLE job)
{
    StopWatchingWork(watch);
    watch.path = path;
    watch.job = job;
    watch.lastWrite = 0;
    watch.size = 0;
    watch.transfers = 0;
    FileState(watch, watch.lastWrite, watch.size);
    JobTransfers(job, watch.transfers);
}

bool HasWorkProgressed(WorkProgress& watch)
{
    bool progressed = false;
    uint64_t lastWrite = 0;
    uint64_t size = 0;
    if (FileState(watch, lastWrite, size) && (lastWrite != watch.lastWrite || size != watch.size)) {
        watch.lastWrite = lastWrite;
        watch.size = size;
        progressed = true;
    }
    uint64_t transfers = 0;
    if (JobTransfers(watch.job, transfers) && transfers != watch.transfers) {
        watch.transfers = transfers;
        progressed = true;
    }
    return progressed;
}

void StopWatchingWork(WorkProgress& watch)
{
    watch.file.Reset();
}
