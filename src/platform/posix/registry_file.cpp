#include "platform/posix/registry_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>

#include "platform/bundled_driver.h"
#include "platform/posix/registry_text.h"

namespace posix_registry {

namespace {

struct Cache {
    std::mutex mutex;
    std::shared_ptr<const RegistryTree> tree;
};

// Reached through a function so that it exists however early the first
// registry call comes: the driver list scans during static initialisation.
Cache& cache()
{
    static Cache instance;
    return instance;
}

std::shared_ptr<const RegistryTree> readFile(const std::string& path, std::ostream& warnings)
{
    auto tree = std::make_shared<RegistryTree>();
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return tree;
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        absolute = path;
    parseRegistryText(text, path, absolute.lexically_normal().parent_path().string(), *tree, warnings);
    return tree;
}

std::shared_ptr<const RegistryTree> readConfigured(std::ostream& warnings)
{
    const char* path = std::getenv(fileVariable);
    if (path != nullptr && *path != '\0')
        return readFile(path, warnings);
    return std::make_shared<RegistryTree>(builtInRegistry());
}

void replace(std::shared_ptr<const RegistryTree> tree)
{
    Cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.tree = std::move(tree);
}

}  // namespace

std::shared_ptr<const RegistryTree> current()
{
    Cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (!c.tree) {
        // The first read may come from a static constructor that runs
        // before the standard streams are set up; this makes sure they are.
        const std::ios_base::Init streams;
        c.tree = readConfigured(std::cerr);
    }
    return c.tree;
}

void reload(std::ostream& warnings) { replace(readConfigured(warnings)); }

void loadFile(const std::string& path, std::ostream& warnings) { replace(readFile(path, warnings)); }

RegistryTree builtInRegistry()
{
    RegistryTree tree;
    RegistryKeyNode& driver = tree.localMachine.make("SOFTWARE\\ASIO\\" LOOPCHECK_BUNDLED_DRIVER_NAME);
    driver.values["CLSID"] = textValue(LOOPCHECK_BUNDLED_DRIVER_CLSID);
    driver.values["Description"] = textValue(LOOPCHECK_BUNDLED_DRIVER_NAME);

    RegistryKeyNode& server = tree.classesRoot().make("CLSID\\" LOOPCHECK_BUNDLED_DRIVER_CLSID "\\InprocServer32");
    server.values[""] = textValue(bundledDriverPath(executableFolder()));
    server.values["ThreadingModel"] = textValue("Apartment");
    return tree;
}

std::string bundledDriverPath(const std::string& executableFolder)
{
    // The build folder keeps the library beside the executable; an install
    // puts the executable in bin/ and the drivers in lib/loopcheck/.
    static const char* const places[] = {"", "/../lib/loopcheck"};
    for (const char* place : places) {
        const std::filesystem::path candidate =
            std::filesystem::path(executableFolder + place + "/" LOOPCHECK_BUNDLED_DRIVER_FILE).lexically_normal();
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate.string();
    }
    return executableFolder + "/" LOOPCHECK_BUNDLED_DRIVER_FILE;
}

std::string executableFolder()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !executable.has_parent_path())
        return ".";
    return executable.parent_path().string();
}

}  // namespace posix_registry
