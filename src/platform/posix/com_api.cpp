// COM as far as in-process servers go: class identifiers from text, the
// per-thread start and end of COM, and object creation. A class is found
// under HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32, its shared library is
// loaded and asked through its DllGetClassObject for a class factory, and
// the factory makes the object, exactly as Windows does with a DLL.
#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/com_failure.h"
#include "platform/posix/win32_shim.h"

namespace {

// CoInitialize calls not yet ended on this thread.
thread_local int comStarts = 0;
// What went wrong in this thread's last CoCreateInstance, in words.
thread_local std::string lastCreateFailure;

HRESULT failCreate(HRESULT result, std::string reason)
{
    lastCreateFailure = std::move(reason);
    return result;
}

std::string hexCode(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
    return text;
}

int hexDigit(WCHAR c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// count hex digits at text[at]; false when one is not a hex digit.
bool readHex(LPCOLESTR text, size_t at, size_t count, uint32_t& value)
{
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        const int digit = hexDigit(text[at + i]);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return true;
}

std::string clsidText(REFCLSID clsid)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", clsid.Data1, clsid.Data2,
                  clsid.Data3, clsid.Data4[0], clsid.Data4[1], clsid.Data4[2], clsid.Data4[3], clsid.Data4[4],
                  clsid.Data4[5], clsid.Data4[6], clsid.Data4[7]);
    return text;
}

// The registered server library of a class; false when there is none.
bool serverPathOf(REFCLSID clsid, std::string& path)
{
    const std::string keyPath = "CLSID\\" + clsidText(clsid) + "\\InprocServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    bool found = RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
                 (type == REG_SZ || type == REG_EXPAND_SZ);
    if (found) {
        std::vector<char> text(static_cast<size_t>(size) + 1, '\0');
        found = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &size) ==
                ERROR_SUCCESS;
        path = text.data();
        found = found && !path.empty();
    }
    RegCloseKey(key);
    return found;
}

}  // namespace

// Only the braced form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} is read;
// program identifiers are not looked up.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid)
{
    if (clsid == nullptr)
        return E_INVALIDARG;
    *clsid = CLSID{};
    if (text == nullptr)
        return S_OK;  // as on Windows: no text names the null class

    for (size_t i = 0; i < 38; ++i) {
        if (text[i] == 0)
            return CO_E_CLASSSTRING;
    }
    if (text[0] != u'{' || text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-' ||
        text[37] != u'}' || text[38] != 0)
        return CO_E_CLASSSTRING;

    CLSID parsed{};
    uint32_t part = 0;
    if (!readHex(text, 1, 8, parsed.Data1))
        return CO_E_CLASSSTRING;
    if (!readHex(text, 10, 4, part))
        return CO_E_CLASSSTRING;
    parsed.Data2 = static_cast<uint16_t>(part);
    if (!readHex(text, 15, 4, part))
        return CO_E_CLASSSTRING;
    parsed.Data3 = static_cast<uint16_t>(part);
    static constexpr size_t bytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        if (!readHex(text, bytePositions[i], 2, part))
            return CO_E_CLASSSTRING;
        parsed.Data4[i] = static_cast<uint8_t>(part);
    }
    *clsid = parsed;
    return S_OK;
}

HRESULT CoInitialize(LPVOID) { return comStarts++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize()
{
    if (comStarts > 0)
        --comStarts;
}

// A server library stays loaded once an object may have come out of it:
// objects and their code must outlive every reference the caller holds,
// and nothing tells when the last one is gone.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* object)
{
    lastCreateFailure.clear();
    if (object == nullptr)
        return failCreate(E_POINTER, "no place for the object was given");
    *object = nullptr;
    if (comStarts == 0)
        return failCreate(CO_E_NOTINITIALIZED, "COM was not started on this thread");
    std::string path;
    if ((context & CLSCTX_INPROC_SERVER) == 0 || !serverPathOf(clsid, path))
        return failCreate(REGDB_E_CLASSNOTREG, "class " + clsidText(clsid) + " has no in-process server registered");

    // The loader would look a bare name up in its search path, and a
    // relative one in the current folder: neither is what was registered.
    if (path.front() != '/')
        return failCreate(CO_E_DLLNOTFOUND, "the server path " + path + " is not absolute");
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* message = dlerror();
        return failCreate(CO_E_DLLNOTFOUND, std::string("the loader said: ") + (message != nullptr ? message : path));
    }
    const auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(dlsym(library, "DllGetClassObject"));
    if (getClassObject == nullptr) {
        dlclose(library);
        return failCreate(CO_E_ERRORINDLL, path + " has no DllGetClassObject");
    }

    IClassFactory* factory = nullptr;
    HRESULT result = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(result))
        return failCreate(result, "DllGetClassObject of " + path + " returned " + hexCode(result));
    if (factory == nullptr)
        return failCreate(CO_E_ERRORINDLL, "DllGetClassObject of " + path + " gave no class factory");
    result = factory->CreateInstance(outer, iid, object);
    factory->Release();
    if (FAILED(result)) {
        *object = nullptr;
        return failCreate(result, "the class factory of " + path + " returned " + hexCode(result));
    }
    return result;
}

std::string describeCreateFailure(HRESULT result)
{
    const std::string code = hexCode(result);
    if (lastCreateFailure.empty())
        return "CoCreateInstance returned " + code;
    if (lastCreateFailure.find(code) != std::string::npos)
        return lastCreateFailure;
    return lastCreateFailure + " (" + code + ")";
}
