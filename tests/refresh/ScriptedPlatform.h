// A scripted machine behind the refresh's platform source: its processes (as
// the system's process list lays them out), what each answers when opened,
// its files' version strings and stamps, and a clock that reading costs.
#pragma once

#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/ProcessSource.h"

namespace pelorin::test {

struct ScriptedProcess {
    std::uint32_t pid = 0;
    std::wstring name;
    std::uint64_t workingSet = 0;
    std::uint64_t kernel = 0, user = 0, creation = 1;
    std::string path = "C:\\apps\\app.exe";
    bool opens = true;
    bool otherBitness = false;
};

struct Script {
    std::vector<ScriptedProcess> processes;
    bool listReadable = true;
    DWORD now = 1000;              // the clock
    DWORD readCost = 0;            // every image path or times read moves the clock on
    int listReads = 0, pathReads = 0, versionReads = 0;
    std::map<std::string, std::pair<VersionRead, std::string>> versions;  // by file + "|" + key
    std::map<std::string, FileStamp> stamps;
    std::map<HANDLE, std::uint32_t> opened;
    std::uint32_t processors = 1;
};
inline Script script;  // one test at a time

// An entry's size and field offsets (without its threads) for the tests' width.
struct EntryLayout { std::size_t size, nameBuffer, pid, workingSet; };
constexpr EntryLayout kLayout = sizeof(void*) == 8 ? EntryLayout{256, 64, 80, 144} : EntryLayout{184, 60, 68, 104};

// The list as the platform of the tests' width writes it into out: entries,
// then names, with the name pointers into out itself. Answers the bytes written.
inline std::size_t WriteSystemList(const std::vector<ScriptedProcess>& processes, unsigned char* out) {
    std::size_t names = processes.size() * kLayout.size;
    for (std::size_t i = 0; i < processes.size(); ++i) {
        const ScriptedProcess& p = processes[i];
        unsigned char* e = out + i * kLayout.size;
        std::memset(e, 0, kLayout.size);
        const ULONG next = i + 1 < processes.size() ? kLayout.size : 0;
        const auto put = [e](std::size_t at, const auto& value) { std::memcpy(e + at, &value, sizeof value); };
        put(0, next);
        put(32, p.creation);
        put(40, p.user);
        put(48, p.kernel);
        put(56, static_cast<USHORT>(p.name.size() * 2));
        put(kLayout.nameBuffer, reinterpret_cast<std::uintptr_t>(out + names));
        put(kLayout.pid, static_cast<std::uintptr_t>(p.pid));
        put(kLayout.workingSet, static_cast<SIZE_T>(p.workingSet));
        std::memcpy(out + names, p.name.data(), p.name.size() * 2);
        names += p.name.size() * 2 + 2;
    }
    return names;
}

inline LONG WINAPI ScriptedQuery(ULONG, PVOID buffer, ULONG, PULONG returned) {  // the source's first buffer fits
    if (!script.listReadable) return -1;
    ++script.listReads;
    *returned = static_cast<ULONG>(WriteSystemList(script.processes, static_cast<unsigned char*>(buffer)));
    return 0;
}

inline const ScriptedProcess* ScriptedByPid(std::uint32_t pid) {
    for (const ScriptedProcess& p : script.processes)
        if (p.pid == pid) return &p;
    return nullptr;
}

// What an opened handle stands for; an empty record once the process is gone.
inline ScriptedProcess ScriptedOf(HANDLE h) {
    const auto it = script.opened.find(h);
    const ScriptedProcess* p = it != script.opened.end() ? ScriptedByPid(it->second) : nullptr;
    ScriptedProcess gone;
    gone.path = "-";
    return p ? *p : gone;
}

inline const ProcessPlatform& ScriptedPlatform() {
    static const ProcessPlatform platform{
        &ScriptedQuery,
        [] {
            std::vector<SnapshotEntry> entries;
            for (const ScriptedProcess& p : script.processes) entries.push_back({p.pid, std::string(p.name.begin(), p.name.end())});
            return entries;
        },
        [](std::uint32_t pid) {
            const ScriptedProcess* p = ScriptedByPid(pid);
            UniqueHandle h(p && p->opens ? ::CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr);
            if (h) script.opened[h.Get()] = pid;
            return h;
        },
        [](HANDLE h) { return ScriptedOf(h).workingSet; },
        [](HANDLE h) {
            script.now += script.readCost;
            const ScriptedProcess p = ScriptedOf(h);
            return ProcessTimes{p.kernel, p.user, p.creation, p.pid != 0};
        },
        [](HANDLE h) {
            ++script.pathReads;
            script.now += script.readCost;
            return ScriptedOf(h).path;
        },
        [](HANDLE h) { return ScriptedOf(h).otherBitness; },
        [](const std::string& path, FileStamp& stamp) {
            const auto it = script.stamps.find(path);
            return it != script.stamps.end() && (stamp = it->second, true);
        },
        [](const std::string& file, const char* key, std::string& value) {
            ++script.versionReads;
            const auto it = script.versions.find(file + "|" + key);
            const VersionRead read = it == script.versions.end() ? VersionRead::Absent : it->second.first;
            value = read == VersionRead::Found ? it->second.second : std::string();
            return read;
        },
        [] { return script.now; },
    };
    return platform;
}

// The platform source over the scripted machine, with its processor count.
struct ScriptedSource final : ProcessSource {
    std::vector<SnapshotEntry> Snapshot() override { return source->Snapshot(); }
    ProcessReadings Read(std::uint32_t pid) override { return source->Read(pid); }
    std::string VersionString(const std::string& file, const char* key) override { return source->VersionString(file, key); }
    std::uint32_t ProcessorCount() override { return script.processors; }
    std::unique_ptr<ProcessSource> source = CreatePlatformProcessSource(ScriptedPlatform());
};

}  // namespace pelorin::test
