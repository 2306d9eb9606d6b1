// What the probe reads back of a program file: its icons, manifest and
// version texts, through the platform's own resource calls, as JSON.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "Json.h"
#include "Verbs.h"

namespace {

BOOL CALLBACK CollectResourceId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
    reinterpret_cast<std::vector<long long>*>(list)->push_back(
        IS_INTRESOURCE(name) ? static_cast<long long>(reinterpret_cast<UINT_PTR>(name)) : -1);
    return TRUE;
}

}  // namespace

int Resources(const wchar_t* path) {
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return 1;
    Json json;
    json.Open('{');
    for (LPCWSTR type : {RT_GROUP_ICON, RT_ICON}) {
        std::vector<long long> ids;
        EnumResourceNamesW(module, type, CollectResourceId, reinterpret_cast<LONG_PTR>(&ids));
        json.Key(type == RT_ICON ? "iconIds" : "groupIconIds").Open('[');
        for (long long id : ids) json.Number(id);
        json.Close(']');
    }

    // The images of icon group 1, as its directory and the images describe them.
    json.Key("group1").Open('[');
    if (HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON)) {
        const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
        const WORD count = *reinterpret_cast<const WORD*>(bytes + 4);
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = bytes + 6 + 14 * i;
            const WORD imageId = *reinterpret_cast<const WORD*>(entry + 12);
            json.Open('{');
            json.Key("width").Number(entry[0] ? entry[0] : 256).Key("height").Number(entry[1] ? entry[1] : 256);
            json.Key("bitCount").Number(*reinterpret_cast<const WORD*>(entry + 6));
            if (HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(imageId), RT_ICON)) {
                const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image)));
                json.Key("imageBitCount").Number(header->biBitCount);
                json.Key("imageWidth").Number(header->biWidth).Key("imageHeight").Number(header->biHeight / 2);
            }
            json.Close('}');
        }
    }
    json.Close(']');

    json.Key("manifest").Bool(FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST) != nullptr);
    FreeLibrary(module);

    json.Key("version").Open('{');
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    std::vector<BYTE> info(size);
    if (size && GetFileVersionInfoW(path, 0, size, info.data())) {
        for (const wchar_t* name : {L"ProductName", L"FileDescription", L"FileVersion", L"ProductVersion"}) {
            wchar_t query[64];
            swprintf(query, 64, L"\\StringFileInfo\\040904B0\\%ls", name);
            wchar_t* value = nullptr;
            UINT length = 0;
            if (VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&value), &length) && value) {
                char key[32];
                WideCharToMultiByte(CP_UTF8, 0, name, -1, key, sizeof(key), nullptr, nullptr);
                json.Key(key).Text(value);
            }
        }
    }
    json.Close('}');
    json.Close('}').Print();
    return 0;
}
