#pragma once
// Temporary directories and unique temporary file names.

#include <string>
#include <utility>

namespace nimbrel::platform {

// Creates a new empty file with a unique name in `directory` (with or without its trailing
// separator), whose name starts with `prefix`; returns its path. Throws Error on failure, and
// once an interrupt has begun to clean up. The file is listed with the live temporaries from
// the moment it exists (see RemoveLiveTemporaries) until a TempFile holding it goes or lets go.
std::string MakeUniqueTempFile(const std::string& directory, const std::string& prefix);

namespace detail {
// The file alone, unlisted, named as GetTempFileName names them: prefix, four hex digits, ".tmp".
std::string CreateUniqueFile(const std::string& directory, const std::string& prefix);
}  // namespace detail

// This process's id as a decimal number, as leftover names carry it.
std::string CurrentProcessTag();
// True unless the process of that id (as CurrentProcessTag writes it) is known to be gone.
bool ProcessIsRunning(const std::string& tag);

// `base` followed by this process's id and "-" where names can carry it ("~nb4711-"), so that a
// later run can tell the leftovers of a process that is gone from those of one still at work.
std::string LeftoverPrefix(const std::string& base);
// Removes the files and folders in `folder` that a process now gone made with
// LeftoverPrefix(base) and MakeUniqueTempFile (a "<base><pid>-XXXX.tmp" file and its ".d" folder),
// as a killed build leaves them. Entries of a running process, of this one and of any other
// name stay. Returns how many entries were removed; failures are ignored.
int RemoveLeftoversOfGoneProcesses(const std::string& folder, const std::string& base);

// Every TempFile and TempDirectory alive is listed here, so that an interrupted process can
// remove them (RemoveLiveTemporaries, from the handler that CleanUpOnInterrupt installs). The
// process is ending then: what other threads make afterwards is removed as soon as it is listed,
// and MakeUniqueTempFile and TempDirectory refuse to make more.
void RemoveLiveTemporaries();

// The temporary folder of this process: made inside the user's temporary directory at the first
// call, readable by its owner alone (mode 0700), with the trailing separator. The editor's and
// the archive component's temporary files go here, never straight into the shared folder, so a
// link planted there cannot redirect them. Removed with its content when the program ends; a
// new one is made when the user's temporary directory changes or the folder has gone.
// Throws Error when it cannot be made.
std::string PrivateTempDirectory();

// Deletes the file when the object goes away, unless Release() was called.
class TempFile {
public:
    explicit TempFile(std::string path = {});
    ~TempFile();
    TempFile(TempFile&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
    TempFile& operator=(TempFile&& other) noexcept;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return path_; }
    std::string Release();

private:
    std::string path_;
};

// A private directory (mode 0700) under the user's temporary directory, removed with everything
// in it when the object goes away (also when the work in it failed).
class TempDirectory {
public:
    explicit TempDirectory(const std::string& prefix = "nimbrel");
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // The directory, with its trailing separator.
    const std::string& Path() const { return path_; }
    // Path() followed by `name`.
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
    TempFile marker_;  // the reserved unique name the directory was derived from
};

}  // namespace nimbrel::platform
