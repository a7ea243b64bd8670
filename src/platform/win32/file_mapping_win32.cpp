// Win32 implementation of platform/file_mapping.h: CreateFileW with share mode 0,
// CreateFileMappingW/MapViewOfFile, SetEndOfFile.
#include <windows.h>

#include "platform/file_mapping.h"
#include "platform/last_error.h"

namespace nimbrel::platform {

namespace {

HANDLE AsHandle(void* value) {
    return value ? static_cast<HANDLE>(value) : INVALID_HANDLE_VALUE;
}
const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

MappedFile::~MappedFile() {
    Close();
}

bool MappedFile::Open(const std::u16string& path, Mode mode) {
    Close();
    DWORD disposition = mode == Mode::CreateAlways ? CREATE_ALWAYS
                        : mode == Mode::CreateNew  ? CREATE_NEW
                                                   : OPEN_EXISTING;
    HANDLE file = ::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;  // CreateFileW left the last error
    file_ = file;
    return true;
}

void MappedFile::Close() {
    Unmap();
    if (file_) {
        ::CloseHandle(AsHandle(file_));
        file_ = nullptr;
    }
}

bool MappedFile::IsOpen() const {
    return file_ != nullptr;
}

std::int64_t MappedFile::Size() const {
    LARGE_INTEGER size;
    if (!file_ || !::GetFileSizeEx(AsHandle(file_), &size)) return -1;
    return size.QuadPart;
}

bool MappedFile::Resize(std::uint64_t size) {
    if (!file_ || view_) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
        return false;
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(AsHandle(file_), position, nullptr, FILE_BEGIN)) return false;
    return ::SetEndOfFile(AsHandle(file_)) != 0;
}

bool MappedFile::Map() {
    if (!file_) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
        return false;
    }
    Unmap();
    std::int64_t size = Size();
    if (size < 0) return false;
    if (size == 0) return true;
    if (static_cast<std::uint64_t>(size) > SIZE_MAX) {
        SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    HANDLE mapping = ::CreateFileMappingW(AsHandle(file_), nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (!mapping) return false;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) {
        DWORD error = ::GetLastError();
        ::CloseHandle(mapping);
        ::SetLastError(error);
        return false;
    }
    mapping_ = mapping;
    view_ = static_cast<std::uint8_t*>(view);
    viewSize_ = static_cast<std::size_t>(size);
    return true;
}

void MappedFile::Unmap() {
    if (view_) ::UnmapViewOfFile(view_);
    if (mapping_) ::CloseHandle(static_cast<HANDLE>(mapping_));
    view_ = nullptr;
    mapping_ = nullptr;
    viewSize_ = 0;
}

bool MappedFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!::ReadFile(AsHandle(file_), out, chunk, &got, &at)) return false;
        if (got == 0) {
            SetLastErrorCode(ERROR_HANDLE_EOF);
            return false;
        }
        out += got;
        offset += got;
        size -= got;
    }
    return true;
}

bool MappedFile::WriteAt(std::uint64_t offset, const void* buffer, std::size_t size) {
    const auto* in = static_cast<const char*>(buffer);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
        DWORD put = 0;
        if (!::WriteFile(AsHandle(file_), in, chunk, &put, &at)) return false;
        if (put == 0) {
            SetLastErrorCode(ERROR_WRITE_FAULT);
            return false;
        }
        in += put;
        offset += put;
        size -= put;
    }
    return true;
}

bool MappedFile::MoveData(std::uint64_t from, std::uint64_t to, std::uint64_t length) {
    if (from == to || length == 0) return true;
    return MoveDataBuffered(from, to, length);
}

bool ReadWholeFileShared(const std::u16string& path, std::string& bytes) {
    HANDLE file = ::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // The whole size: GetFileSize alone would give the low 32 bits, and a file of 4 GiB and more
    // would be read as its first few bytes and reported complete.
    LARGE_INTEGER whole{};
    bool ok = ::GetFileSizeEx(file, &whole) != 0;
    if (ok && whole.QuadPart >= static_cast<LONGLONG>(MAXDWORD)) {  // more than one ReadFile can take
        ::SetLastError(ERROR_FILE_TOO_LARGE);
        ok = false;
    }
    DWORD size = ok ? static_cast<DWORD>(whole.QuadPart) : 0;
    if (ok) {
        bytes.assign(size, '\0');
        DWORD got = 0;
        ok = size == 0 || (::ReadFile(file, bytes.data(), size, &got, nullptr) && got == size);
        if (ok && got != size) {
            SetLastErrorCode(ERROR_HANDLE_EOF);
            ok = false;
        }
    }
    DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (!ok) {
        bytes.clear();
        ::SetLastError(error);
    }
    return ok;
}

bool RemoveFileUtf16(const std::u16string& path) {
    return ::DeleteFileW(Wide(path)) != 0;
}

std::u16string TempDirectoryUtf16() {
    wchar_t buffer[261];
    DWORD length = ::GetTempPathW(260, buffer);
    if (length == 0 || length >= 260) return std::u16string();
    return std::u16string(reinterpret_cast<const char16_t*>(buffer), length);
}

std::uint32_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

std::string NarrowFromUtf16(std::u16string_view text) {
    if (text.empty()) return std::string();
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    // No best fit: a letter the code page lacks becomes "?", which no file name can hold, rather
    // than a look-alike ("Łódź" as "Lódz") that may name a different file. The UTF-8
    // code page takes no such flag and has every letter.
    DWORD flags = ::GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int length = ::WideCharToMultiByte(CP_ACP, flags, wide, static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_ACP, flags, wide, static_cast<int>(text.size()), out.data(), length, nullptr,
                              nullptr);
    return out;
}

std::u16string Utf16FromNarrow(std::string_view text) {
    if (text.empty()) return std::u16string();
    int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(length > 0 ? length : 0), u'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                              reinterpret_cast<wchar_t*>(out.data()), length);
    return out;
}

}  // namespace nimbrel::platform
