// What Windows reads from a program's resources, through its own API:
//   FileVersion, ProductVersion, ProductName, FileDescription, CompanyName,
//   LegalCopyright (the version information's strings, one "key: value" line
//   each), "Fixed: a.b.c.d" (its numeric file version), "Icons: 16 32 …" (the
//   sizes of the first icon group) and, last, "Manifest:" followed by the
//   embedded manifest.
//
//   tessaro-peinfo PROGRAM
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

#pragma pack(push, 2)
struct IconDirEntry
{
    BYTE width;
    BYTE height;
    BYTE colors;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
struct IconDir
{
    WORD reserved;
    WORD type;
    WORD count;
    IconDirEntry entries[1];
};
#pragma pack(pop)

BOOL CALLBACK firstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found)
{
    *reinterpret_cast<LPWSTR *>(found) = name;
    return FALSE;
}

void printVersion(const wchar_t *path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data()))
        return;
    struct Translation
    {
        WORD language;
        WORD codePage;
    } *translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void **>(&translation), &length) ||
        length < sizeof(Translation))
        return;
    for (const wchar_t *key : {L"FileVersion", L"ProductVersion", L"ProductName",
                               L"FileDescription", L"CompanyName", L"LegalCopyright"}) {
        wchar_t query[128];
        swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
                 translation->codePage, key);
        wchar_t *value = nullptr;
        if (VerQueryValueW(data.data(), query, reinterpret_cast<void **>(&value), &length)) {
            char utf8[512];
            WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, nullptr, nullptr);
            std::printf("%ls: %s\n", key, utf8);
        }
    }
    VS_FIXEDFILEINFO *fixed = nullptr;
    if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void **>(&fixed), &length))
        std::printf("Fixed: %lu.%lu.%lu.%lu\n", HIWORD(fixed->dwFileVersionMS),
                    LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                    LOWORD(fixed->dwFileVersionLS));
}

} // namespace

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 2) {
        std::fputs("usage: tessaro-peinfo PROGRAM\n", stderr);
        return 2;
    }
    printVersion(argv[1]);
    HMODULE module = LoadLibraryExW(argv[1], nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) {
        std::fprintf(stderr, "cannot read %ls: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    LPWSTR group = nullptr;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, firstName,
                       reinterpret_cast<LONG_PTR>(&group));
    if (group) {
        HRSRC found = FindResourceW(module, group, MAKEINTRESOURCEW(14));
        const auto *dir = static_cast<const IconDir *>(LockResource(LoadResource(module, found)));
        std::printf("Icons:");
        for (WORD i = 0; dir && i < dir->count; ++i)
            std::printf(" %d", dir->entries[i].width ? dir->entries[i].width : 256);
        std::printf("\n");
    }
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    if (manifest) {
        const DWORD size = SizeofResource(module, manifest);
        const char *text = static_cast<const char *>(LockResource(LoadResource(module, manifest)));
        std::printf("Manifest:\n");
        std::fwrite(text, 1, size, stdout);
        std::printf("\n");
    }
    FreeLibrary(module);
    return 0;
}
