// Win32 side of the safe whole-file write in files.h.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"

namespace nimbrel::platform {

namespace {

std::string Win32ErrorMessage(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND: return IoErrorMessage(ENOENT);
        case ERROR_PATH_NOT_FOUND: return IoErrorMessage(ENOTDIR);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT: return IoErrorMessage(EACCES);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return IoErrorMessage(ENOSPC);
        default: return "I/O error " + std::to_string(code);
    }
}

[[noreturn]] void FailWithLastError() {
    throw Error(Win32ErrorMessage(GetLastError()));
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool Close() {
        BOOL ok = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

private:
    HANDLE handle_;
};

void WriteAll(HANDLE file, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(file, bytes.data() + done, piece, &put, nullptr) || put == 0) FailWithLastError();
        done += put;
    }
}

void SetLength(HANDLE file, std::size_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) FailWithLastError();
}

// Rewrites an open file: its new length is taken first, so that a full disk fails before an
// old byte is overwritten; then the bytes, the final length, and a flush to the disk.
void WriteInPlace(HANDLE file, std::string_view bytes) {
    LARGE_INTEGER oldSize{};
    if (!GetFileSizeEx(file, &oldSize)) FailWithLastError();
    if (static_cast<ULONGLONG>(oldSize.QuadPart) < bytes.size()) SetLength(file, bytes.size());
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) FailWithLastError();
    WriteAll(file, bytes);
    SetLength(file, bytes.size());
    if (!FlushFileBuffers(file)) FailWithLastError();
}

// The final path of an open file (through symbolic links and junctions), without the "\\?\"
// the system puts before it; the path itself when the system cannot say.
std::string FinalPath(HANDLE file, const std::string& path) {
    char buffer[MAX_PATH * 2];
    DWORD length = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= sizeof buffer) return path;
    std::string result(buffer, length);
    if (result.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + result.substr(8);
    if (result.rfind("\\\\?\\", 0) == 0) return result.substr(4);
    return result;
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    // Opening for writing follows links to the real file and fails for a read-only one as the
    // write would ("File access denied"); the handle also serves a write in place.
    Handle existing(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool exists = existing.get() != INVALID_HANDLE_VALUE;
    if (!exists) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) throw Error(Win32ErrorMessage(error));
    }
    std::string target = path;
    if (exists) {
        if (GetFileType(existing.get()) != FILE_TYPE_DISK) throw Error(NotRegularFileMessage(path));
        target = FinalPath(existing.get(), path);
        BY_HANDLE_FILE_INFORMATION info{};
        // Another name shares the file: replacing it would split the names, so write in place.
        if (GetFileInformationByHandle(existing.get(), &info) && info.nNumberOfLinks > 1) {
            WriteInPlace(existing.get(), bytes);
            if (!existing.Close()) FailWithLastError();
            return;
        }
    }

    std::string directory = DirectoryPart(target);
    std::string tempPath;
    try {
        tempPath =
            MakeUniqueTempFile(directory.empty() ? std::string(".") : directory, LeftoverPrefix("~nb"));
    } catch (const Error&) {
        if (!exists) throw Error(IoErrorMessage(EACCES));
        // The folder takes no new file, but the file itself may be written.
        WriteInPlace(existing.get(), bytes);
        if (!existing.Close()) FailWithLastError();
        return;
    }
    TempFile guard(tempPath);
    {
        Handle temp(CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (temp.get() == INVALID_HANDLE_VALUE) FailWithLastError();
        WriteAll(temp.get(), bytes);
        if (!FlushFileBuffers(temp.get())) FailWithLastError();
        if (!temp.Close()) FailWithLastError();
    }
    if (exists) {
        existing.Close();
        // ReplaceFile keeps the replaced file's attributes, security, creation time and
        // short name on the new content.
        if (!ReplaceFileA(target.c_str(), tempPath.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                          nullptr))
            FailWithLastError();
    } else if (!MoveFileExA(tempPath.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        FailWithLastError();
    }
    guard.Release();
}

int SeekFile(std::FILE* file, std::int64_t offset, int origin) {
    return _fseeki64(file, offset, origin);
}

std::int64_t TellFile(std::FILE* file) {
    return _ftelli64(file);
}

int TruncateFile(std::FILE* file, std::int64_t size) {
    if (std::fflush(file) != 0) return -1;
    return _chsize_s(_fileno(file), size) == 0 ? 0 : -1;
}

}  // namespace nimbrel::platform
