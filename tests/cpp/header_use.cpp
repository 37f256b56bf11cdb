// Compiled only, under each compiler and language version, with and without
// exceptions and RTTI: touches every part of tovik.hpp so that all of it is
// instantiated.
#include <iterator>
#include <memory_resource>
#include <utility>

#include "tovik.hpp"

int use_every_part(std::pmr::memory_resource *resource) {
    tovik::context malloc_backed;
    tovik::context resource_backed(resource);
    tovik::context caller_backed(nullptr, nullptr, nullptr);
    malloc_backed.parse("[a]\nb = 1\n");
    resource_backed.parse("x = 1\n", resource_backed.add_subnode({}, "p"), tovik::replace);
    caller_backed = std::move(resource_backed);
    tovik::context moved(std::move(caller_backed));

    int total = 0;
    for (tovik::record r : malloc_backed.records())
        total += static_cast<int>(r.name().size() + r.value().size()) + (r.raw() != nullptr);
    for (tovik::node n : moved.roots())
        for (tovik::node child : n.children())
            total += child.value() ? static_cast<int>(child.value()->size()) : 0;

    const tovik::context &reader = malloc_backed;
    tovik::node b = reader.find("a.b");
    total += b && b.parent() == reader.find(tovik::node(), "a") ? 1 : 0;
    total += reader.find_child({}, "a") ? 1 : 0;
    total += reader.find_record("a.b") != tovik::record() ? 1 : 0;
    total += static_cast<int>(std::distance(reader.roots().begin(), reader.roots().end()));
    total += reader.raw()->state;

    tovik::index idx(reader, resource);
    total += idx.find("a.b") == b && idx.find(reader.find("a"), "b") == b ? 1 : 0;
    total += idx.find_record("a.b").name().size() > 0 ? 1 : 0;

    malloc_backed.add_valuenode(b, "c", "2");
    malloc_backed.free_node(malloc_backed.find("a.b.c"));
    malloc_backed.free_tree();
    malloc_backed.clear();
    total += malloc_backed.raw()->records.next == &malloc_backed.raw()->records;
    return total;
}
