#include "inputs.hpp"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <unistd.h>

#include "corpus.hpp"

namespace daduzozi_bench {
namespace {

std::string_view trim(std::string_view text) {
    const char *blanks = " \t\r";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

template <typename LineFn> void for_each_line(std::string_view text, LineFn &&on_line) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        on_line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
}

// The key lines as every reader compared here splits them: the benchmark
// corpora keep to lines whose key ends at "=" and whose section header holds
// nothing but the name.
std::vector<KeyName> list_keys(std::string_view text) {
    std::vector<KeyName> keys;
    std::string section;
    for_each_line(text, [&](std::string_view line) {
        std::string_view body = trim(line);
        if (body.empty() || body.front() == ';' || body.front() == '#')
            return;
        if (body.front() == '[') {
            section = std::string(trim(body.substr(1, body.find(']') - 1)));
            return;
        }
        size_t equals = body.find('=');
        if (equals == std::string_view::npos)
            return;
        std::string key(trim(body.substr(0, equals)));
        std::string full = section.empty() ? key : section + "." + key;
        keys.push_back({section, std::move(key), std::move(full)});
    });
    return keys;
}

std::string with_hash_comments(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for_each_line(text, [&](std::string_view line) {
        size_t first = line.find_first_not_of(" \t");
        std::string copy(line);
        if (first != std::string_view::npos && copy[first] == ';')
            copy[first] = '#';
        out += copy;
        out += '\n';
    });
    if (!text.empty() && text.back() != '\n')
        out.pop_back();
    return out;
}

Input make_input(std::string_view name) {
    Input in;
    in.name = std::string(name);
    in.text = name == "real" ? make_real_corpus() : make_corpus(name);
    in.hash_comments = with_hash_comments(in.text);
    in.keys = list_keys(in.text);
    return in;
}

class TempFiles {
  public:
    ~TempFiles() {
        for (auto &entry : paths_)
            std::remove(entry.second.c_str());
    }
    const std::string &file_for(const Input &in) {
        std::string &path = paths_[&in];
        if (path.empty())
            path = write(in.text);
        return path;
    }

  private:
    static std::string write(const std::string &text) {
        const char *dir = std::getenv("TMPDIR");
        std::string path = std::string(dir ? dir : "/tmp") + "/daduzozi-bench-XXXXXX";
        int fd = mkstemp(path.data());
        if (fd < 0)
            return "";
        bool whole = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        return whole ? path : "";
    }

    std::map<const Input *, std::string> paths_;
};

} // namespace

std::vector<std::string> input_names() {
    std::vector<std::string> names = corpus_names();
    names.push_back("real");
    return names;
}

const Input &input(std::string_view name) {
    static std::map<std::string, std::unique_ptr<Input>, std::less<>> made;
    auto it = made.find(name);
    if (it == made.end())
        it = made.emplace(std::string(name), std::make_unique<Input>(make_input(name))).first;
    return *it->second;
}

const std::string &input_file(const Input &in) {
    static TempFiles files;
    return files.file_for(in);
}

} // namespace daduzozi_bench
