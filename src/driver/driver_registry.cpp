#include "driver/driver_registry.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "driver/current_driver.h"
#include "platform/com_failure.h"
#include "platform/win32_api.h"

DriverRegistry driverList;
// Deliberately never deleted: drivers opened through it may be in use
// until the very end of the process.
DriverRegistry* driverLoader = nullptr;

namespace {

// The registry's own limit on a key's name is 255 characters.
constexpr DWORD subkeyNameBytes = 256;
constexpr DWORD valueTextBytes = 256;
constexpr DWORD classKeyNameBytes = 512;
constexpr DWORD serverPathBytes = 512;
constexpr int clsidWideChars = 100;

// Closes a registry key on every way out.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey()
    {
        if (handle_ != nullptr)
            RegCloseKey(handle_);
    }

    bool open(HKEY parent, const char* path)
    {
        return RegOpenKeyA(parent, path, &handle_) == ERROR_SUCCESS;
    }
    bool openForReading(HKEY parent, const char* path)
    {
        return RegOpenKeyExA(parent, path, 0, KEY_READ, &handle_) == ERROR_SUCCESS;
    }
    HKEY get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

// Reads a text value into a buffer of `size` bytes. False when the value is
// missing or it does not fit with its terminating zero; stored text need not
// end in one, and is given one here so it can never be read past its end.
bool readText(HKEY key, const char* valueName, char* buffer, DWORD size)
{
    DWORD type = REG_NONE;
    DWORD length = size;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &length) !=
        ERROR_SUCCESS)
        return false;
    if (length > 0 && buffer[length - 1] == '\0')
        return true;
    if (length >= size)
        return false;
    buffer[length] = '\0';
    return true;
}

void copyText(char* out, size_t outSize, const char* text)
{
    const size_t length = std::min(std::strlen(text), outSize - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
}

// The display form of a name: whole below 32 characters, else its first 28
// characters and "...".
void cutName(const char* name, char* out)
{
    const size_t length = std::strlen(name);
    if (length < static_cast<size_t>(displayNameBytes)) {
        std::memcpy(out, name, length + 1);
        return;
    }
    std::memcpy(out, name, 28);
    std::memcpy(out + 28, "...", 4);
}

// Turns the class identifier text into the record's clsid; a text that does
// not convert or parse leaves it zero.
void parseClassId(const char* text, CLSID& clsid)
{
    // One spare element keeps the text terminated even when the conversion
    // stops at the limit.
    WCHAR wide[clsidWideChars + 1] = {};
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, clsidWideChars) == 0)
        return;
    CLSID parsed{};
    if (CLSIDFromString(wide, &parsed) == S_OK)
        clsid = parsed;
}

std::string skipText(const char* keyName, const std::string& why)
{
    return std::string("ASIO driver key \"") + keyName + "\" skipped: " + why;
}

// Where the class registry left a class identifier text: 0 with its server
// path, else -1 with the reason in why.
int findServer(char* clsidText, char* path, std::string* why);

// The record for one subkey of software\asio, or null when the subkey is
// to be skipped, with the reason in why.
// The entry for a key whose name does not fit the registry's limit. The
// name is read once more into a larger buffer so that the list can say
// which key it was; where even that fails, the entry goes unnamed.
SkippedDriverEntry overlongKey(HKEY root, DWORD position)
{
    const char* why = "its name is longer than 255 characters";
    char name[4096];
    if (RegEnumKeyA(root, position, name, sizeof name) != ERROR_SUCCESS)
        return {"", std::string("an ASIO driver key was skipped: ") + why};
    return {name, skipText(name, why)};
}

std::unique_ptr<DriverRecord> readDriverKey(HKEY root, const char* keyName, int32_t index, std::string& why)
{
    RegistryKey key;
    if (!key.openForReading(root, keyName)) {
        why = skipText(keyName, "it cannot be opened");
        return nullptr;
    }
    char clsidText[valueTextBytes];
    if (!readText(key.get(), "clsid", clsidText, sizeof clsidText)) {
        why = skipText(keyName, "no \"clsid\" value of at most 255 characters");
        return nullptr;
    }
    const std::string clsidAsHeld = clsidText;  // before the search lower-cases it
    char serverPath[serverPathBytes];
    std::string serverWhy;
    if (findServer(clsidText, serverPath, &serverWhy) != 0) {
        why = skipText(keyName, serverWhy);
        return nullptr;
    }

    auto record = std::unique_ptr<DriverRecord>(new (std::nothrow) DriverRecord);
    if (!record) {
        why = skipText(keyName, "out of memory");
        return nullptr;
    }
    record->index = index;
    parseClassId(clsidText, record->clsid);
    // A description may be up to 255 characters; the name holds 127.
    char description[valueTextBytes];
    const char* name = readText(key.get(), "description", description, sizeof description) ? description : keyName;
    copyText(record->name, sizeof record->name, name);
    record->keyName = keyName;
    record->clsidText = clsidAsHeld;
    record->serverPath = serverPath;
    return record;
}

// The server path of the class whose key is keyName below classes.
int serverPathOf(HKEY classes, const char* keyName, char* path, std::string* why)
{
    RegistryKey classKey;
    RegistryKey serverKey;
    if (!classKey.openForReading(classes, keyName) || !serverKey.openForReading(classKey.get(), "InprocServer32") ||
        !readText(serverKey.get(), nullptr, path, serverPathBytes)) {
        if (why != nullptr)
            *why = std::string("class ") + keyName + " has no InprocServer32 server path";
        return -1;
    }
    OFSTRUCT probe{};
    if (OpenFile(path, &probe, OF_EXIST) != HFILE_ERROR)
        return 0;
    if (why != nullptr)
        *why = std::string("its server library \"") + path + "\" is not a file that exists";
    return -1;
}

int findServer(char* clsidText, char* path, std::string* why)
{
    CharLowerBuffA(clsidText, static_cast<DWORD>(std::strlen(clsidText)));
    RegistryKey classes;
    if (!classes.open(HKEY_CLASSES_ROOT, "clsid")) {
        if (why != nullptr)
            *why = "HKEY_CLASSES_ROOT\\clsid cannot be opened";
        return -1;
    }
    char keyName[classKeyNameBytes];
    for (DWORD position = 0;; ++position) {
        const LONG found = RegEnumKeyA(classes.get(), position, keyName, classKeyNameBytes);
        // A name too long to be a class identifier is none: the classes
        // after it still count.
        if (found == ERROR_MORE_DATA)
            continue;
        if (found != ERROR_SUCCESS)
            break;
        CharLowerBuffA(keyName, static_cast<DWORD>(std::strlen(keyName)));
        if (std::strcmp(keyName, clsidText) == 0)
            return serverPathOf(classes.get(), keyName, path, why);
    }
    if (why != nullptr)
        *why = std::string("class ") + clsidText + " is not registered under HKEY_CLASSES_ROOT\\clsid";
    return -1;
}

}  // namespace

DriverRegistry::DriverRegistry()
{
    RegistryKey root;
    if (root.open(HKEY_LOCAL_MACHINE, "software\\asio")) {
        std::unique_ptr<DriverRecord>* tail = &head_;
        char keyName[subkeyNameBytes];
        // A name that does not fit is passed over, not taken for the end:
        // the keys after it are as good as any.
        for (DWORD position = 0;; ++position) {
            const LONG found = RegEnumKeyA(root.get(), position, keyName, subkeyNameBytes);
            if (found == ERROR_MORE_DATA) {
                skipped_.push_back(overlongKey(root.get(), position));
                continue;
            }
            if (found != ERROR_SUCCESS)
                break;
            std::string why;
            std::unique_ptr<DriverRecord> record = readDriverKey(root.get(), keyName, count_, why);
            if (!record) {
                skipped_.push_back({keyName, why});
                continue;
            }
            *tail = std::move(record);
            tail = &(*tail)->next;
            ++count_;
        }
    }
    if (count_ > 0)
        CoInitialize(nullptr);
}

DriverRegistry::~DriverRegistry()
{
    // One record at a time: letting each record delete the next would
    // recurse once per driver.
    while (head_)
        head_ = std::move(head_->next);
    if (count_ != 0)
        CoUninitialize();
}

DriverRecord* DriverRegistry::findRecord(int32_t index) const
{
    for (DriverRecord* record = head_.get(); record != nullptr; record = record->next.get()) {
        if (record->index == index)
            return record;
    }
    return nullptr;
}

const DriverRecord* DriverRegistry::find(int32_t index) const { return findRecord(index); }

int DriverRegistry::fillNames(char** names, int maxCount) const
{
    for (int32_t i = 0; i < count_ && i < maxCount; ++i) {
        const DriverRecord* record = findRecord(i);
        if (names != nullptr && names[i] != nullptr && record != nullptr)
            cutName(record->name, names[i]);
    }
    return count_ < maxCount ? count_ : maxCount;
}

int DriverRegistry::nameOf(int32_t index, char* out) const
{
    if (out == nullptr)
        return errInvalidArgument;
    const DriverRecord* record = findRecord(index);
    if (record == nullptr)
        return errNotFound;
    cutName(record->name, out);
    return 0;
}

int DriverRegistry::openByIndex(int32_t index)
{
    lastOpenError_.clear();
    DriverRecord* record = findRecord(index);
    if (record == nullptr) {
        lastOpenError_ = "no driver has the index " + std::to_string(index);
        return errNotFound;
    }
    if (record->instance) {
        lastOpenError_ = "the driver is already open";
        return errAlreadyOpen;
    }
    const HRESULT result = CoCreateInstance(record->clsid, nullptr, CLSCTX_INPROC_SERVER, record->clsid,
                                            reinterpret_cast<LPVOID*>(&currentDriverSlot()));
    if (result != S_OK) {
        // A server that answers with anything but S_OK may still have
        // handed out an object; nobody would release it.
        if (currentDriverSlot() != nullptr)
            currentDriverSlot()->Release();
        currentDriverSlot() = nullptr;
        lastOpenError_ = "driver \"" + std::string(record->name) + "\" could not be created: ";
        if (record->clsid == CLSID{})
            lastOpenError_ += "its class identifier \"" + record->clsidText + "\" does not parse; ";
        lastOpenError_ += describeCreateFailure(result);
        return result;
    }
    record->instance.reset(currentDriverSlot());
    return 0;
}

void DriverRegistry::closeCurrent()
{
    if (currentIndex_ != -1) {
        DriverRecord* record = findRecord(currentIndex_);
        if (record != nullptr)
            record->instance.reset();
    }
    currentIndex_ = -1;
}

bool DriverRegistry::loadByName(const char* name)
{
    if (name == nullptr)
        return false;
    for (int32_t i = 0; i < count_; ++i) {
        const DriverRecord* record = findRecord(i);
        char candidate[displayNameBytes];
        if (record == nullptr)
            continue;
        cutName(record->name, candidate);
        if (std::strcmp(candidate, name) == 0)
            return switchTo(i, true);
    }
    return false;
}

bool DriverRegistry::loadByIndex(int32_t index) { return switchTo(index, false); }

bool DriverRegistry::switchTo(int32_t index, bool reopenByName)
{
    char candidate[displayNameBytes];
    if (nameOf(index, candidate) != 0) {
        lastOpenError_ = "no driver has the index " + std::to_string(index);
        return false;
    }
    char previous[displayNameBytes] = "";
    const int32_t previousIndex = currentIndex_;
    if (previousIndex >= 0)
        nameOf(previousIndex, previous);
    closeCurrent();
    if (openByIndex(index) == 0) {
        currentIndex_ = index;
        return true;
    }
    currentDriverSlot() = nullptr;
    const bool reopen = reopenByName ? previous[0] != '\0' && std::strcmp(previous, candidate) != 0
                                     : previousIndex >= 0 && previousIndex != index;
    if (reopen) {
        // The reopen must not hide why the chosen driver failed.
        const std::string failure = lastOpenError_;
        if (reopenByName)
            loadByName(previous);
        else
            switchTo(previousIndex, false);
        lastOpenError_ = failure;
    }
    return false;
}

int findInprocServerPath(char* clsidText, char* path) { return findServer(clsidText, path, nullptr); }

bool loadDriverByName(const char* name)
{
    if (driverLoader == nullptr) {
        driverLoader = new (std::nothrow) DriverRegistry;
        if (driverLoader == nullptr)
            return false;
    }
    return driverLoader->loadByName(name);
}

bool loadDriverByIndex(int32_t index)
{
    if (driverLoader == nullptr) {
        driverLoader = new (std::nothrow) DriverRegistry;
        if (driverLoader == nullptr)
            return false;
    }
    return driverLoader->loadByIndex(index);
}

int initialiseDriver(ASIODriverInfo& info)
{
    info.driverVersion = 0;
    copyText(info.name, sizeof info.name, "No ASIO Driver");
    IASIO* driver = currentDriverSlot();
    if (driver == nullptr)
        return ASE_NotPresent;

    if (driver->init(info.sysRef) != ASIOFalse) {
        copyText(info.errorMessage, sizeof info.errorMessage, "No ASIO Driver Error");
        driver->getDriverName(info.name);
        info.name[sizeof info.name - 1] = '\0';  // a driver that fills all 32 bytes leaves no terminator
        info.driverVersion = driver->getDriverVersion();
        return ASE_OK;
    }
    driver->getErrorMessage(info.errorMessage);
    info.errorMessage[sizeof info.errorMessage - 1] = '\0';
    // The instance stays with driverLoader's current record, which releases
    // it on the next close or load.
    currentDriverSlot() = nullptr;
    return ASE_NotPresent;
}
