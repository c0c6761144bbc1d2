#include "TestClassRegistry.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace Pellwick::Test {

namespace {

std::map<std::string, TestClassMain> &registry()
{
    static std::map<std::string, TestClassMain> classes;
    return classes;
}

} // namespace

bool registerTestClass(const char *name, TestClassMain run)
{
    return registry().emplace(name, run).second;
}

} // namespace Pellwick::Test

/// Runs one registered class: the one the first argument names (the argument is then dropped), or
/// else the one PELLWICK_TEST_CLASS names. The class's name becomes the program's name (Qt's
/// application name follows it), and PELLWICK_TEST_CLASS is set for the child processes a test
/// starts from its own executable.
int main(int argc, char *argv[])
{
    const auto &classes = Pellwick::Test::registry();
    std::vector<char *> arguments(argv, argv + argc);
    std::string name;
    if (argc > 1 && classes.count(argv[1]) != 0) {
        name = argv[1];
        arguments.erase(arguments.begin() + 1);
    } else if (const char *chosen = std::getenv("PELLWICK_TEST_CLASS")) {
        name = chosen;
    }
    const auto found = classes.find(name);
    if (found == classes.end()) {
        std::fprintf(stderr, "Usage: %s CLASS [test arguments]; its classes:\n", argv[0]);
        for (const auto &entry : classes)
            std::fprintf(stderr, "  %s\n", entry.first.c_str());
        return 2;
    }
    ::setenv("PELLWICK_TEST_CLASS", name.c_str(), 1);
    arguments[0] = name.data();
    arguments.push_back(nullptr);
    return found->second(static_cast<int>(arguments.size()) - 1, arguments.data());
}
