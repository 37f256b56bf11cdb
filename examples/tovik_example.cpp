// Reads an INI file with the C++ header and prints its records, its tree and
// a few lookups. Usage: tovik_example_cpp [FILE]   (default: examples/sample.ini)
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "tovik.hpp"

static void print_pair(std::string_view name, std::string_view value, int depth = 0) {
    std::printf("%*s%.*s = %.*s\n", 2 * depth, "", static_cast<int>(name.size()), name.data(),
                static_cast<int>(value.size()), value.data());
}

static void print_tree(tovik::node_range nodes, int depth) {
    for (tovik::node n : nodes) {
        if (auto value = n.value())
            print_pair(n.name(), *value, depth);
        else
            std::printf("%*s%.*s\n", 2 * depth, "", static_cast<int>(n.name().size()),
                        n.name().data());
        print_tree(n.children(), depth + 1);
    }
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "examples/sample.ini";
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "tovik_example_cpp: cannot read %s\n", path);
        return 1;
    }
    std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};

    tovik::context config; // releases everything when it goes out of scope
    config.parse(text);    // every name and value is copied: `text` may go now

    std::puts("records:");
    for (tovik::record r : config.records())
        print_pair(r.name(), r.value());
    std::puts("tree:");
    print_tree(config.roots(), 0);

    // Lookups walk one list per dot; an index answers in constant time.
    std::puts("lookups:");
    const tovik::index lookup(config);
    for (std::string_view name : {"net.port", "net.backlog", "database.pool.max", "net.missing"}) {
        if (tovik::record r = lookup.find_record(name))
            print_pair(name, r.value());
        else
            std::printf("%.*s is not set\n", static_cast<int>(name.size()), name.data());
    }
    if (tovik::node tls = config.find("server.tls"))
        std::printf("server.tls has %d keys\n",
                    static_cast<int>(std::distance(tls.children().begin(), tls.children().end())));
    return 0;
}
