// One string of a file's version resource, read under its first translation.
#pragma once

#include <string>

namespace pelorin {

// The value of keyName ("FileDescription", "CompanyName", ...) in the version
// resource of fileName, or the empty text when any step finds nothing.
std::string ReadVersionString(const std::string& fileName, const char* keyName);

}  // namespace pelorin
