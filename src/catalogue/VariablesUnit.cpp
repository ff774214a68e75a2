#include "catalogue/VariablesUnit.h"

#include <utility>

namespace pelorin {
namespace {

// Built on first use so a read during another unit's static start-up is safe.
SharedFolders& Folders() {
    static SharedFolders folders;
    return folders;
}

}  // namespace

void SetSharedFolders(SharedFolders folders) { Folders() = std::move(folders); }

const std::string& DriveRootFolder() { return Folders().driveRoot; }
const std::string& WindowsFolder() { return Folders().windows; }
const std::string& SystemFolder() { return Folders().system; }
const std::string& ProgramFilesFolder() { return Folders().programFiles; }
const std::string& TempFolder() { return Folders().temp; }

}  // namespace pelorin
