#pragma once
// Safe file names for extracted members. A member name comes from the archive, so it may hold
// anything: it is turned into one plain file name that cannot leave the target folder on
// Windows or POSIX, and names already taken get a " (2)", " (3)" ... before the extension.

#include <set>
#include <string>

namespace nimbrel::cli {

// A plain, harmless file name for a member name; `fallback` when nothing usable is left.
// Separators of either kind, ':', the characters Windows forbids and control characters
// become '_'; "." and ".." and names of dots and spaces only become `fallback`; trailing dots
// and spaces (dropped by Windows) become '_'; device names (CON, NUL, COM1, LPT1, AUX, PRN, with
// any extension) get a leading '_'.
std::string SafeMemberName(const std::string& name, const std::string& fallback);

// `name` itself, or "stem (N).ext" with the smallest N >= 2 whose lower-case form is not in
// `taken`.
std::string UniqueName(const std::string& name, const std::set<std::string>& takenLowerCase);

std::string LowerAscii(std::string text);

}  // namespace nimbrel::cli
