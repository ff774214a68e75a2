// One string of a file's version resource, read under its first translation.
#pragma once

#include <string>

namespace pelorin {

// The value of keyName ("FileDescription", "CompanyName", ...) in the version
// resource of fileName, or the empty text when any step finds nothing. A file
// that fails VersionResourceIsIntact is not handed to the platform at all.
std::string ReadVersionString(const std::string& fileName, const char* keyName);

// False when fileName cannot be read, or is a PE image (32 or 64-bit) whose
// version resources lie outside the file or hold a VS_VERSIONINFO tree whose
// nodes do not fit in each other: the platform's reader trusts both and reads
// past the file, or past its buffer, on such an image. Files that are not PE
// images (a 16-bit NE file, say) are left to the platform.
bool VersionResourceIsIntact(const std::string& fileName);

}  // namespace pelorin
