#include "registry_fixture.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "platform/posix/registry_file.h"
#include "servers/test_classes.h"

std::string fixturePath(const std::string& name) { return std::string(LOOPCHECK_REGISTRY_FIXTURES) + "/" + name; }

std::string useRegistryFile(const std::string& path)
{
    std::ostringstream warnings;
    posix_registry::loadFile(path, warnings);
    return warnings.str();
}

std::string useRegistryText(const std::string& text)
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name() + "." + std::to_string(getpid());
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    const std::string path = fixturePath("generated." + name + ".reg");
    std::ofstream(path, std::ios::binary) << text;
    const std::string warnings = useRegistryFile(path);
    std::remove(path.c_str());
    return warnings;
}

int liveTestDrivers()
{
    void* server = dlopen(fixturePath("test_server.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (server == nullptr)
        return 0;
    const auto live = reinterpret_cast<LiveObjectsFunction>(dlsym(server, "testServerLiveObjects"));
    const int count = live != nullptr ? live() : -1;
    dlclose(server);
    return count;
}

OpenedKey::OpenedKey(HKEY parent, const char* path) : status_(RegOpenKeyExA(parent, path, 0, KEY_READ, &key_)) {}

OpenedKey::~OpenedKey()
{
    if (status_ == ERROR_SUCCESS)
        RegCloseKey(key_);
}

std::string textOf(HKEY key, const char* valueName)
{
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return "<missing>";
    std::vector<char> text(size + 1, '\0');
    if (RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(text.data()), &size) !=
        ERROR_SUCCESS)
        return "<missing>";
    return text.data();
}
