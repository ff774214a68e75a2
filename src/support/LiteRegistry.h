// Thin helpers over the registry functions for 32-bit values. A failed open
// gives a null key; every later call on it fails quietly at the platform.
#pragma once

#include <windows.h>

#include <cstdint>

namespace pelorin {

constexpr REGSAM kKeyRead = 0x20019;
constexpr REGSAM kKeyAllAccess = 0xF003F;

HKEY OpenKey(HKEY root, const char* subKey, REGSAM access);
// Creates the key and every missing key on its path; closes it at once when
// closeAfter is set. Answers the open key otherwise (the caller closes it).
HKEY CreateKey(HKEY root, const char* subKey, bool closeAfter);
void CloseKey(HKEY key);
bool KeyExists(HKEY parent, const char* subKey);
bool ValueExists(HKEY key, const char* name);
// True when the value exists as REG_DWORD data of exactly 4 bytes.
bool ValueIsInteger(HKEY key, const char* name);
std::int32_t ReadInteger(HKEY key, const char* name);
LONG WriteInteger(HKEY key, const char* name, std::int32_t value);
bool ReadFlag(HKEY key, const char* name);
LONG WriteFlag(HKEY key, const char* name, bool value);

}  // namespace pelorin
