#include "support/VersionInfo.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "support/FastStrings.h"
#include "support/Handles.h"

namespace pelorin {
namespace {

constexpr DWORD kResourceVersionType = 16;  // RT_VERSION
constexpr DWORD kVersionInfoName = 1;       // VS_VERSION_INFO, the one name the platform reads
constexpr std::size_t kVersionNodeHeader = 6;  // wLength, wValueLength, wType
// Real trees are three levels below the root; anything deeper is damage.
constexpr int kDeepestVersionNode = 8;
// More resource entries than any real image carries in one directory.
constexpr std::size_t kMostResourceEntries = 4096;
// Real images carry their version resource in one or two languages, with a
// few dozen nodes each. Files anyone can write are judged within these.
constexpr std::size_t kMostVersionLanguages = 16;
constexpr std::size_t kMostVersionNodes = 1024;

struct ViewTraits {
    static const void* Empty() noexcept { return nullptr; }
    static bool IsEmpty(const void* view) noexcept { return view == nullptr; }
    static void Close(const void* view) noexcept { ::UnmapViewOfFile(view); }
};
using UniqueView = UniqueResource<const void*, ViewTraits>;

// A whole file mapped read-only, with reads that never leave it.
class FileBytes {
public:
    explicit FileBytes(const std::string& fileName) {
        const UniqueHandle file(::CreateFileW(LongPathForm(fileName).c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size = {};
        if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > 0x7FFFFFFF) return;
        const UniqueHandle mapping(::CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!mapping) return;
        view_.Reset(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
        if (view_) size_ = static_cast<std::size_t>(size.QuadPart);
    }

    bool Valid() const { return static_cast<bool>(view_); }
    std::size_t Size() const { return size_; }
    bool Contains(std::size_t offset, std::size_t length) const { return offset <= size_ && length <= size_ - offset; }

    template <typename T>
    bool Read(std::size_t offset, T& value) const {
        if (!Contains(offset, sizeof(T))) return false;
        std::memcpy(&value, static_cast<const unsigned char*>(view_.Get()) + offset, sizeof(T));
        return true;
    }

private:
    UniqueView view_;
    std::size_t size_ = 0;
};

std::size_t AlignToDword(std::size_t offset) { return (offset + 3) & ~static_cast<std::size_t>(3); }

// One node of a VS_VERSIONINFO tree at `at`, which must end by `end`; its
// key must end inside it, its value too, and each child must fit in it in
// turn. A text value (a String) ends the node; its length counts characters,
// but some tools write bytes, so wValueLength bytes must fit.
// `budget` counts the nodes still to be visited in the whole file.
bool VersionNodeFits(const FileBytes& file, std::size_t block, std::size_t at, std::size_t end, int depth,
                     std::size_t& budget) {
    WORD length = 0, valueLength = 0, type = 0;
    if (budget == 0 || depth > kDeepestVersionNode || end < at || end - at < kVersionNodeHeader) return false;
    --budget;
    if (!file.Read(at, length) || !file.Read(at + 2, valueLength) || !file.Read(at + 4, type)) return false;
    if (length < kVersionNodeHeader || length > end - at) return false;
    const std::size_t nodeEnd = at + length;

    std::size_t cursor = at + kVersionNodeHeader;
    for (WCHAR c = 1; c != 0; cursor += sizeof(WCHAR)) {
        if (cursor + sizeof(WCHAR) > nodeEnd || !file.Read(cursor, c)) return false;
    }
    // Offsets are aligned from the start of the block, which is itself aligned.
    cursor = block + AlignToDword(cursor - block);
    if (valueLength > 0) {
        if (cursor > nodeEnd || valueLength > nodeEnd - cursor) return false;
        if (type == 1) return true;
        cursor = block + AlignToDword(cursor + valueLength - block);
    }
    while (cursor < nodeEnd && nodeEnd - cursor >= kVersionNodeHeader) {
        WORD childLength = 0;
        if (!file.Read(cursor, childLength) || !VersionNodeFits(file, block, cursor, nodeEnd, depth + 1, budget))
            return false;
        cursor = block + AlignToDword(cursor + childLength - block);
    }
    return true;
}

// The image's sections, to find where a resource's RVA lies in the file.
class ImageSections {
public:
    ImageSections(const FileBytes& file, std::size_t table, WORD count) : file_(file), table_(table), count_(count) {}

    // The file offset of [rva, rva + length); false unless it lies wholly in
    // one section's data in the file.
    bool ToOffset(DWORD rva, std::size_t length, std::size_t& offset) const {
        for (WORD i = 0; i < count_; ++i) {
            IMAGE_SECTION_HEADER section = {};
            if (!file_.Read(table_ + i * sizeof section, section)) return false;
            if (rva < section.VirtualAddress || rva - section.VirtualAddress >= section.SizeOfRawData) continue;
            const std::size_t start = section.PointerToRawData + std::size_t{rva - section.VirtualAddress};
            const std::size_t rawEnd = std::size_t{section.PointerToRawData} + section.SizeOfRawData;
            if (start > rawEnd || length > rawEnd - start || !file_.Contains(start, length)) return false;
            offset = start;
            return true;
        }
        return false;
    }

private:
    const FileBytes& file_;
    std::size_t table_;
    WORD count_;
};

// The entries of one resource directory: { name or id, offset (high bit: a directory) }.
bool ReadResourceEntries(const FileBytes& file, const ImageSections& sections, DWORD rva,
                         std::vector<std::pair<DWORD, DWORD>>& entries) {
    entries.clear();
    std::size_t at = 0;
    IMAGE_RESOURCE_DIRECTORY directory = {};
    if (!sections.ToOffset(rva, sizeof directory, at) || !file.Read(at, directory)) return false;
    const std::size_t count = std::size_t{directory.NumberOfNamedEntries} + directory.NumberOfIdEntries;
    if (count > kMostResourceEntries) return false;
    std::size_t first = 0;
    if (!sections.ToOffset(rva + sizeof directory, count * 8, first)) return count == 0;
    for (std::size_t i = 0; i < count; ++i) {
        DWORD name = 0, offset = 0;
        if (!file.Read(first + i * 8, name) || !file.Read(first + i * 8 + 4, offset)) return false;
        entries.emplace_back(name, offset);
    }
    return true;
}

// The resources the platform reads for the version: type RT_VERSION, name
// VS_VERSION_INFO, then whichever language it picks, so every language is
// checked. It follows one path through the directories; so does this check,
// which never walks their combinations (three directories of 4096 entries
// leading to each other would be 4096³ of them). A type or name given twice,
// too many languages or nodes: damage, made to be walked rather than loaded.
bool VersionResourcesIntact(const FileBytes& file, const ImageSections& sections, DWORD root) {
    constexpr DWORD kIsDirectory = 0x80000000u;
    std::vector<std::pair<DWORD, DWORD>> entries;
    DWORD directory = root;
    for (const DWORD id : {kResourceVersionType, kVersionInfoName}) {
        if (!ReadResourceEntries(file, sections, directory, entries)) return false;
        const auto count = std::count_if(entries.begin(), entries.end(), [id](const auto& e) { return e.first == id; });
        if (count == 0) return true;  // no version resource: the platform reads nothing
        const auto found = std::find_if(entries.begin(), entries.end(), [id](const auto& e) { return e.first == id; });
        if (count > 1 || !(found->second & kIsDirectory)) return false;
        directory = root + (found->second & ~kIsDirectory);
    }
    if (!ReadResourceEntries(file, sections, directory, entries) || entries.size() > kMostVersionLanguages) return false;
    std::size_t budget = kMostVersionNodes;
    for (const auto& language : entries) {
        IMAGE_RESOURCE_DATA_ENTRY data = {};
        std::size_t at = 0;
        if (language.second & kIsDirectory) return false;
        if (!sections.ToOffset(root + language.second, sizeof data, at) || !file.Read(at, data)) return false;
        std::size_t block = 0;
        if (!sections.ToOffset(data.OffsetToData, data.Size, block)) return false;
        if (!VersionNodeFits(file, block, block, block + data.Size, 0, budget)) return false;
    }
    return true;
}

bool VersionResourceFits(const FileBytes& file) {
    // Anything but a PE image (a 16-bit NE file, say) is left to the platform.
    IMAGE_DOS_HEADER dos = {};
    DWORD signature = 0;
    if (!file.Read(0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return true;
    const std::size_t nt = static_cast<std::size_t>(dos.e_lfanew);
    if (!file.Read(nt, signature) || signature != IMAGE_NT_SIGNATURE) return true;
    IMAGE_FILE_HEADER header = {};
    WORD magic = 0;
    if (!file.Read(nt + 4, header)) return false;
    const std::size_t optional = nt + 4 + sizeof header;
    if (!file.Read(optional, magic)) return false;

    // The data directories follow the fields that differ between PE32 and PE32+.
    std::size_t directories = 0;
    DWORD directoryCount = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        if (!file.Read(optional + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes), directoryCount)) return false;
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        if (!file.Read(optional + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes), directoryCount)) return false;
    } else {
        return false;
    }
    IMAGE_DATA_DIRECTORY resources = {};
    if (directoryCount <= IMAGE_DIRECTORY_ENTRY_RESOURCE) return true;  // no resources: nothing to misread
    if (!file.Read(directories + IMAGE_DIRECTORY_ENTRY_RESOURCE * sizeof resources, resources)) return false;
    if (resources.VirtualAddress == 0) return true;

    const ImageSections sections(file, optional + header.SizeOfOptionalHeader, header.NumberOfSections);
    return VersionResourcesIntact(file, sections, resources.VirtualAddress);
}


enum class ImageCheck { Intact, Damaged, Unreadable };

ImageCheck CheckVersionResource(const std::string& fileName) {
    const FileBytes file(fileName);
    if (!file.Valid()) return ImageCheck::Unreadable;
    return VersionResourceFits(file) ? ImageCheck::Intact : ImageCheck::Damaged;
}

// The platform's answer when a file holds no version resource, as opposed
// to a file it could not read.
bool MeansNoResource(DWORD error) {
    return error == ERROR_RESOURCE_DATA_NOT_FOUND || error == ERROR_RESOURCE_TYPE_NOT_FOUND ||
           error == ERROR_RESOURCE_NAME_NOT_FOUND || error == ERROR_RESOURCE_LANG_NOT_FOUND ||
           error == ERROR_BAD_FORMAT || error == ERROR_BAD_EXE_FORMAT || error == ERROR_SUCCESS;
}

}  // namespace

bool VersionResourceIsIntact(const std::string& fileName) {
    return CheckVersionResource(fileName) == ImageCheck::Intact;
}

VersionRead ReadVersionValue(const std::string& fileName, const char* keyName, std::string& value) {
    value.clear();
    if (keyName == nullptr) return VersionRead::Absent;
    // A damaged image makes the platform's reader fault or overrun its buffer.
    switch (CheckVersionResource(fileName)) {
    case ImageCheck::Intact: break;
    case ImageCheck::Damaged: return VersionRead::Absent;
    case ImageCheck::Unreadable: return VersionRead::Failed;
    }
    // Wide, so that a path in any script and of any length is opened, and the
    // value comes in the code page the program's texts are in.
    const std::wstring file = LongPathForm(fileName);
    DWORD unused = 0;
    ::SetLastError(ERROR_SUCCESS);
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &unused);
    if (size == 0) return MeansNoResource(::GetLastError()) ? VersionRead::Absent : VersionRead::Failed;

    // Runs on the refresh worker too: an allocation failure is a read to try again.
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[size]);
    if (!block || !::GetFileVersionInfoW(file.c_str(), 0, size, block.get())) return VersionRead::Failed;

    void* translation = nullptr;
    UINT translationLength = 0;
    if (!::VerQueryValueW(block.get(), L"\\VarFileInfo\\Translation", &translation, &translationLength) ||
        translation == nullptr || translationLength < sizeof(std::uint32_t))
        return VersionRead::Absent;
    std::uint32_t first = 0;
    std::memcpy(&first, translation, sizeof first);

    const std::uintptr_t arguments[] = {first & 0xFFFFu, first >> 16, reinterpret_cast<std::uintptr_t>(keyName)};
    const std::wstring path = WideFromAnsi(FormatText("\\StringFileInfo\\%.4x%.4x\\%s", arguments));

    void* found = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.get(), path.c_str(), &found, &length) || found == nullptr || length <= 1)
        return VersionRead::Absent;

    // The reported length counts the terminating zero. Never read past the
    // block, whatever a damaged resource claims.
    std::size_t count = length - 1;
    const auto* bytes = static_cast<const unsigned char*>(found);
    if (bytes >= block.get() && bytes < block.get() + size)
        count = std::min<std::size_t>(count, static_cast<std::size_t>(block.get() + size - bytes) / sizeof(wchar_t));
    const std::wstring_view text(static_cast<const wchar_t*>(found), count);
    value = AnsiFromWide(text.substr(0, text.find(L'\0')));
    return value.empty() ? VersionRead::Absent : VersionRead::Found;
}

std::string ReadVersionString(const std::string& fileName, const char* keyName) {
    std::string value;
    ReadVersionValue(fileName, keyName, value);
    return value;
}

}  // namespace pelorin
