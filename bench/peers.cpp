// Peer INI readers on the same bytes: parse and release, and lookups of every
// key where the reader offers them. Each peer is a type with
//   Held                          what a parse leaves (released when dropped)
//   load(in, held) -> error text  "" on success
//   pairs(held)                   the key/value pairs it kept
//   find(held, name) -> bool      a value for one key (lookup peers only)
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// Debian's SimpleIni lacks the UTF-8 converter's header; the texts here are
// read as bytes anyway, which is also what the other readers do.
#define SI_NO_CONVERSION
#include <SimpleIni.h>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <glib.h>
#include <ini.h>
#include <iniparser.h>

#include "measure.hpp"
#include "register.hpp"

namespace daduzozi_bench {
namespace {

// inih with a handler that keeps nothing: the cost of reading alone.
struct InihNoStore {
    using Held = size_t;
    static int count(void *user, const char *, const char *, const char *) {
        ++*static_cast<size_t *>(user);
        return 1;
    }
    static std::string load(const Input &in, Held &held) {
        held = 0;
        int line = ini_parse_string(in.text.c_str(), count, &held);
        return line == 0 ? "" : "rejected line " + std::to_string(line);
    }
    static size_t pairs(const Held &held) { return held; }
};

// inih with a handler that copies each pair into one malloc'd block, as a
// program that keeps its config would.
struct InihCopy {
    struct Pair {
        Pair *next;
        char texts[1];
    };
    struct Held {
        Pair *head = nullptr;
        size_t count = 0;
        Held() = default;
        Held(const Held &) = delete;
        Held &operator=(const Held &) = delete;
        ~Held() {
            while (head) {
                Pair *next = head->next;
                std::free(head);
                head = next;
            }
        }
    };
    static int copy(void *user, const char *section, const char *name, const char *value) {
        auto *held = static_cast<Held *>(user);
        size_t section_len = std::strlen(section) + 1;
        size_t name_len = std::strlen(name) + 1;
        size_t value_len = std::strlen(value) + 1;
        auto *pair = static_cast<Pair *>(
            std::malloc(offsetof(Pair, texts) + section_len + name_len + value_len));
        if (!pair)
            return 0;
        std::memcpy(pair->texts, section, section_len);
        std::memcpy(pair->texts + section_len, name, name_len);
        std::memcpy(pair->texts + section_len + name_len, value, value_len);
        pair->next = held->head;
        held->head = pair;
        held->count++;
        return 1;
    }
    static std::string load(const Input &in, Held &held) {
        int line = ini_parse_string(in.text.c_str(), copy, &held);
        return line == 0 ? "" : "rejected line " + std::to_string(line);
    }
    static size_t pairs(const Held &held) { return held.count; }
};

// iniparser reads only named files: it loads a file holding the same bytes,
// from the page cache, so its figures include opening and reading the file.
struct IniParser {
    struct Free {
        void operator()(dictionary *dict) const { iniparser_freedict(dict); }
    };
    using Held = std::unique_ptr<dictionary, Free>;
    static int quiet(const char *, ...) { return 0; }
    static std::string load(const Input &in, Held &held) {
        const std::string &path = input_file(in);
        if (path.empty())
            return "cannot write a temporary file";
        held.reset(iniparser_load(path.c_str()));
        return held ? "" : "iniparser_load failed";
    }
    static size_t pairs(const Held &held) {
        size_t total = 0;
        for (int i = 0; i < iniparser_getnsec(held.get()); ++i)
            total += size_t(iniparser_getsecnkeys(held.get(), iniparser_getsecname(held.get(), i)));
        return total;
    }
    static std::string lookup_name(const KeyName &name) { return name.section + ":" + name.key; }
    static bool find(const Held &held, const std::string &name) {
        return iniparser_getstring(held.get(), name.c_str(), nullptr) != nullptr;
    }
};

struct SimpleIni {
    using Held = std::unique_ptr<CSimpleIniA>;
    static std::string load(const Input &in, Held &held) {
        held = std::make_unique<CSimpleIniA>();
        SI_Error result = held->LoadData(in.text.data(), in.text.size());
        return result < 0 ? "LoadData failed: " + std::to_string(result) : "";
    }
    static size_t pairs(const Held &held) {
        CSimpleIniA::TNamesDepend sections;
        held->GetAllSections(sections);
        size_t total = 0;
        for (const auto &section : sections)
            total += size_t(held->GetSectionSize(section.pItem));
        return total;
    }
    static bool find(const Held &held, const KeyName &name) {
        return held->GetValue(name.section.c_str(), name.key.c_str(), nullptr) != nullptr;
    }
};

// Boost reads from a stream; the stream's copy of the text is part of the
// cost, as it is for any caller holding the text in memory.
struct BoostPtree {
    using ptree = boost::property_tree::ptree;
    using Held = ptree;
    static std::string load(const Input &in, Held &held) {
        std::istringstream stream(in.text);
        try {
            boost::property_tree::ini_parser::read_ini(stream, held);
        } catch (const boost::property_tree::ini_parser_error &error) {
            return error.what();
        }
        return "";
    }
    static size_t pairs(const Held &held) {
        size_t total = 0;
        for (const auto &section : held)
            total += section.second.size();
        return total;
    }
    // Names hold dots, so paths use a separator that no name contains.
    static bool find(const Held &held, const KeyName &name) {
        auto section = held.get_child_optional(ptree::path_type(name.section, '\x1f'));
        return section && section->get_child_optional(ptree::path_type(name.key, '\x1f'));
    }
};

// GKeyFile knows only '#' comments, so it reads the '#' variant of the text.
struct GlibKeyFile {
    struct Free {
        void operator()(GKeyFile *file) const { g_key_file_free(file); }
    };
    using Held = std::unique_ptr<GKeyFile, Free>;
    static std::string load(const Input &in, Held &held) {
        held.reset(g_key_file_new());
        GError *error = nullptr;
        if (g_key_file_load_from_data(held.get(), in.hash_comments.data(), in.hash_comments.size(),
                                      G_KEY_FILE_NONE, &error))
            return "";
        std::string text = error->message;
        g_error_free(error);
        return text;
    }
    static size_t pairs(const Held &held) {
        gsize groups = 0;
        gchar **names = g_key_file_get_groups(held.get(), &groups);
        size_t total = 0;
        for (gsize i = 0; i < groups; ++i) {
            gsize keys = 0;
            g_strfreev(g_key_file_get_keys(held.get(), names[i], &keys, nullptr));
            total += keys;
        }
        g_strfreev(names);
        return total;
    }
    // The value comes back as a copy the caller frees: part of the lookup.
    static bool find(const Held &held, const KeyName &name) {
        gchar *value =
            g_key_file_get_value(held.get(), name.section.c_str(), name.key.c_str(), nullptr);
        g_free(value);
        return value != nullptr;
    }
};

// What a peer makes of an input, found once: benchmarks run once per
// repetition, and a slow peer's parse of a large input takes seconds.
struct PeerFacts {
    std::string error;
    double pairs = 0;
    double heap_per_key_line = 0;
};

template <typename Peer> const PeerFacts &facts_of(const Input &in) {
    static std::map<const Input *, PeerFacts> known;
    auto it = known.find(&in);
    if (it != known.end())
        return it->second;
    PeerFacts facts;
    {
        typename Peer::Held probe{};
        facts.error = Peer::load(in, probe);
        facts.pairs = double(Peer::pairs(probe));
    }
    if (facts.error.empty())
        facts.heap_per_key_line = heap_per_key_line(in, [&] {
            auto held = std::make_unique<typename Peer::Held>();
            Peer::load(in, *held);
            return held;
        });
    return known.emplace(&in, facts).first->second;
}

template <typename Peer> void parse_peer(benchmark::State &state, const Input &in) {
    const PeerFacts &facts = facts_of<Peer>(in);
    if (!facts.error.empty()) {
        state.SkipWithError(("rejected: " + facts.error).c_str());
        return;
    }
    state.counters["pairs"] = facts.pairs;
    state.counters["heap_per_key_line"] = facts.heap_per_key_line;
    for (auto _ : state) {
        typename Peer::Held held{};
        Peer::load(in, held);
        benchmark::DoNotOptimize(held);
    }
    count_throughput(state, in);
}

// The names a peer looks keys up by, made before timing.
template <typename Peer> auto lookup_names(const Input &in) {
    if constexpr (std::is_same_v<Peer, IniParser>) {
        std::vector<std::string> names;
        for (const KeyName &name : in.keys)
            names.push_back(IniParser::lookup_name(name));
        return names;
    } else {
        return in.keys;
    }
}

template <typename Peer> void lookup_peer(benchmark::State &state, const Input &in) {
    typename Peer::Held held{};
    std::string error = Peer::load(in, held);
    if (!error.empty()) {
        state.SkipWithError(("rejected: " + error).c_str());
        return;
    }
    auto names = lookup_names<Peer>(in);
    bool missed = false;
    for (auto _ : state)
        for (const auto &name : names) {
            bool found = Peer::find(held, name);
            benchmark::DoNotOptimize(found);
            missed |= !found;
        }
    if (missed)
        state.SkipWithError("a key was not found");
    count_time_per(state, "ns_per_lookup", double(names.size()));
}

} // namespace

void register_peers() {
    iniparser_set_error_callback(IniParser::quiet);
    for (const std::string &name : input_names()) {
        add_benchmark("inih_nostore", name, parse_peer<InihNoStore>);
        add_benchmark("inih_copy", name, parse_peer<InihCopy>);
        add_benchmark("iniparser", name, parse_peer<IniParser>);
        add_benchmark("simpleini", name, parse_peer<SimpleIni>);
        add_benchmark("boost_ptree", name, parse_peer<BoostPtree>);
        add_benchmark("glib_keyfile", name, parse_peer<GlibKeyFile>);
    }
    for (const char *name : kLookupInputs) {
        add_benchmark("iniparser_find", name, lookup_peer<IniParser>);
        add_benchmark("simpleini_find", name, lookup_peer<SimpleIni>);
        add_benchmark("boost_ptree_find", name, lookup_peer<BoostPtree>);
        add_benchmark("glib_keyfile_find", name, lookup_peer<GlibKeyFile>);
    }
}

} // namespace daduzozi_bench
