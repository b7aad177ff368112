// ScratchFile on Windows: a file in the temporary folder opened with
// FILE_FLAG_DELETE_ON_CLOSE, so the system removes it when the last handle
// closes, even if the process dies; FILE_ATTRIBUTE_TEMPORARY keeps its
// bytes in the cache where it can.
#include "platform/storage/scratch_file.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>

namespace {

HANDLE Handle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

std::string Utf8(const wchar_t* text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return std::string();
    std::string out(static_cast<size_t>(bytes - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    return out;
}

// Transfers are split so that a DWORD always counts them.
constexpr size_t kMaxTransfer = 0x40000000;

OVERLAPPED At(uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

}  // namespace

std::shared_ptr<ScratchFile> ScratchFile::CreateTemporary()
{
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        return nullptr;
    // GetTempFileNameW makes the file, which reserves the name; it is then
    // opened again with delete-on-close.
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(folder, L"tvx", 0, name) == 0)
        return nullptr;
    HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                              TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        return nullptr;
    }
    try {
        return std::shared_ptr<ScratchFile>(
            new ScratchFile(reinterpret_cast<intptr_t>(file), Utf8(name)));
    } catch (...) {
        CloseHandle(file);  // deletes it
        return nullptr;
    }
}

ScratchFile::~ScratchFile() { CloseHandle(Handle(handle_)); }

int64_t ScratchFile::ReadAt(uint64_t offset, void* buffer, size_t size)
{
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
    if (!ReadFile(Handle(handle_), buffer, ask, &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

int64_t ScratchFile::WriteAt(uint64_t offset, const void* buffer, size_t size)
{
    OVERLAPPED at = At(offset);
    DWORD put = 0;
    const DWORD ask = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
    if (!WriteFile(Handle(handle_), buffer, ask, &put, &at))
        return -1;
    return put;
}

bool ScratchFile::Size(uint64_t* size)
{
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(Handle(handle_), &value))
        return false;
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

bool ScratchFile::Resize(uint64_t size)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetFileInformationByHandle(Handle(handle_), FileEndOfFileInfo, &end, sizeof end) != 0;
}

// FILE_FLAG_DELETE_ON_CLOSE removes the file with the last handle.
void ScratchFile::Unlink() { unlinked_ = true; }
