#include "support/VersionInfo.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "support/FastStrings.h"

namespace pelorin {

std::string ReadVersionString(const std::string& fileName, const char* keyName) {
    if (keyName == nullptr) return std::string();
    DWORD unused = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(fileName.c_str(), &unused);
    if (size == 0) return std::string();

    // Runs on the refresh worker too: an allocation failure is just "no value".
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[size]);
    if (!block) return std::string();
    if (!::GetFileVersionInfoA(fileName.c_str(), 0, size, block.get())) return std::string();

    void* translation = nullptr;
    UINT translationLength = 0;
    if (!::VerQueryValueA(block.get(), "\\VarFileInfo\\Translation", &translation, &translationLength)) return std::string();
    if (translation == nullptr || translationLength < sizeof(std::uint32_t)) return std::string();
    std::uint32_t first = 0;
    std::memcpy(&first, translation, sizeof first);

    const std::uintptr_t arguments[] = {first & 0xFFFFu, first >> 16, reinterpret_cast<std::uintptr_t>(keyName)};
    const std::string path = FormatText("\\StringFileInfo\\%.4x%.4x\\%s", arguments);

    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.get(), path.c_str(), &value, &length) || value == nullptr || length <= 1) return std::string();

    // The reported length counts the terminating zero. Never read past the
    // block, whatever a damaged resource claims.
    std::size_t count = length - 1;
    const auto* characters = static_cast<const unsigned char*>(value);
    if (characters >= block.get() && characters < block.get() + size) {
        const std::size_t available = static_cast<std::size_t>(block.get() + size - characters);
        if (count > available) count = available;
    }
    return StringFromBuffer(static_cast<const char*>(value), count);
}

}  // namespace pelorin
