// One string of a file's version resource, read under its first translation.
#pragma once

#include <string>

namespace pelorin {

// What one read of a version string found.
enum class VersionRead {
    Found,   // the value is there
    Absent,  // the file was read: it has no such value (no resource, no translation, no key, damaged)
    Failed,  // the file could not be read now (gone, locked, a stalled share): worth another try later
};

// The value of keyName in the version resource of fileName into value (the
// empty text unless Found).
VersionRead ReadVersionValue(const std::string& fileName, const char* keyName, std::string& value);

// The value of keyName ("FileDescription", "CompanyName", ...) in the version
// resource of fileName, or the empty text when any step finds nothing. A file
// that fails VersionResourceIsIntact is not handed to the platform at all.
std::string ReadVersionString(const std::string& fileName, const char* keyName);

// False when fileName cannot be read, or is a PE image (32 or 64-bit) whose
// version resources lie outside the file or hold a VS_VERSIONINFO tree whose
// nodes do not fit in each other: the platform's reader trusts both and reads
// past the file, or past its buffer, on such an image. Only the resources the
// platform reads are looked at, within a fixed budget (a directory that names
// them twice, or more languages or nodes than any real image has, fails), so
// a crafted file costs no more than a real one. Files that are not PE images
// (a 16-bit NE file, say) are left to the platform.
bool VersionResourceIsIntact(const std::string& fileName);

}  // namespace pelorin
