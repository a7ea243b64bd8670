#pragma once
// The executable resource editor: opens a Windows executable (PE32 or PE32+), edits its resource
// tree in memory and writes the tree back as a new resource section.
//
// The operations return booleans and leave the platform's last-error value
// (platform/last_error.h) as the only detail. Every one of them accepts the absence of a
// handle (a failed BeginResourceEdit) and says what it reports then.
//
// Signed executables: an edit rewrites the resource section and the headers, so an embedded
// signature (the certificate table) no longer matches the file afterwards. The table itself is
// kept and moved with the bytes behind the resource section.

#include <cstdint>
#include <string>

#include "resedit/res_id.h"

namespace nimbrel::resedit {


struct ResourceEditHandle;  // one open edit; opaque to callers

// Opens `fileName` (an existing file) for an edit and reads its resource tree. Gives null on
// failure: the file cannot be opened or mapped (it is missing, read-only or held by another
// editor), is not a PE32 or PE32+ image, its resource directory is malformed (last error 13,
// ERROR_INVALID_DATA), or it has no resource section (last error 2, ERROR_FILE_NOT_FOUND).
// With `deleteExisting` the edit starts from an empty tree and drops every resource at commit.
ResourceEditHandle* BeginResourceEdit(const std::u16string& fileName, bool deleteExisting);

// Ends an edit; the handle is gone afterwards. With `discard` the file stays byte for byte as it
// was. Otherwise the tree is written back; false when that fails, in which case the file is
// restored to its original bytes whenever the system allows it. True with no handle.
bool EndResourceEdit(ResourceEditHandle* handle, bool discard);

// True when the tree has a leaf for type, name and language. `data` is then the address of the
// leaf's bytes in the mapped file (null for data set during this edit) and `size` their length.
bool QueryResourceEntry(ResourceEditHandle* handle, const ResId& type, const ResId& name,
                        std::uint16_t language, const std::uint8_t** data, std::uint32_t* size);

// Adds, replaces (with `data`) or deletes (with null `data`) one entry. The bytes are copied.
// True also when nothing had to be done and with no handle; false when the change failed (no
// memory, or a temporary file for more than 32,768 bytes could not be written).
bool UpdateResourceEntry(ResourceEditHandle* handle, const ResId& type, const ResId& name,
                         std::uint16_t language, const void* data, std::uint32_t size);

// The icon group record (RT_GROUP_ICON) of that name and language, as bytes, whether it is stored
// in the file or was set during this edit. False when there is none, and with no handle.
bool FindIconGroup(ResourceEditHandle* handle, const ResId& name, std::uint16_t language,
                   std::string* group = nullptr);

// Deletes an icon group and, under the same language, the icons it lists. True when there is no
// such group and with no handle.
bool RemoveIconGroup(ResourceEditHandle* handle, const ResId& name, std::uint16_t language);

// Replaces the icon group of that name and language with the images of the .ico file at
// `icoFileName`, reusing the IDs of the group it replaces and taking the lowest free RT_ICON IDs
// from 50 upwards for the rest. False, with nothing changed, when the file cannot be read or is
// malformed (shorter than its directory, or an image beyond its end), or would blow up the
// executable: more than 256 images, images of more than 16 MiB together, or entries that share
// or overlap image bytes. False as well when an icon
// would need an ID above 65535, or a change fails. With no handle the file is read and checked
// and nimbrel::Error is raised at the first image that needs an ID (an empty .ico gives true).
bool ImportIconGroup(ResourceEditHandle* handle, const ResId& name, std::uint16_t language,
                     const std::u16string& icoFileName);

}  // namespace nimbrel::resedit
