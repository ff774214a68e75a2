#include "support/LiteRegistry.h"

namespace pelorin {

HKEY OpenKey(HKEY root, const char* subKey, REGSAM access) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, subKey, 0, access, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

HKEY CreateKey(HKEY root, const char* subKey, bool closeAfter) {
    HKEY key = nullptr;
    if (::RegCreateKeyA(root, subKey, &key) != ERROR_SUCCESS) return nullptr;
    if (closeAfter) {
        ::RegCloseKey(key);
        return nullptr;
    }
    return key;
}

void CloseKey(HKEY key) {
    if (key != nullptr) ::RegCloseKey(key);
}

bool KeyExists(HKEY parent, const char* subKey) {
    const HKEY key = OpenKey(parent, subKey, kKeyRead);
    CloseKey(key);
    return key != nullptr;
}

bool ValueExists(HKEY key, const char* name) {
    DWORD type = 0;
    DWORD size = 0;
    return ::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

bool ValueIsInteger(HKEY key, const char* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    return type == REG_DWORD && size == sizeof(DWORD);
}

std::int32_t ReadInteger(HKEY key, const char* name) {
    DWORD data = 0;
    DWORD size = sizeof data;
    // A longer value fails with ERROR_MORE_DATA and a shorter one reports its
    // size: neither is a 32-bit value, and the buffer may hold partial bytes.
    if (::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) return 0;
    if (size != sizeof data) return 0;
    return static_cast<std::int32_t>(data);
}

LONG WriteInteger(HKEY key, const char* name, std::int32_t value) {
    const DWORD data = static_cast<DWORD>(value);
    return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

bool ReadFlag(HKEY key, const char* name) {
    return ReadInteger(key, name) != 0;
}

LONG WriteFlag(HKEY key, const char* name, bool value) {
    return WriteInteger(key, name, value ? 1 : 0);
}

}  // namespace pelorin
