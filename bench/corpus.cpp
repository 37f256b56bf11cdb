#include "corpus.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <system_error>

namespace daduzozi_bench {
namespace {

// splitmix64: tiny, fast and identical everywhere, unlike the standard
// distributions whose output differs between standard libraries.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // The slight modulo bias does not matter for test text.
    unsigned between(unsigned low, unsigned high) {
        return low + static_cast<unsigned>(next() % (high - low + 1));
    }
    bool percent(unsigned chance) { return next() % 100 < chance; }
    template <typename T, size_t N> const T &pick(const T (&items)[N]) { return items[next() % N]; }
    // Fisher-Yates written out, because std::shuffle's order is not portable.
    template <typename T> void shuffle(std::vector<T> &items) {
        for (size_t i = items.size(); i > 1; --i)
            std::swap(items[i - 1], items[next() % i]);
    }

  private:
    uint64_t state_;
};

std::string number(uint64_t value) { return std::to_string(value); }

// The parts of a braced list are evaluated left to right, unlike the operands
// of "+", so random parts joined here come out in the same order everywhere.
std::string concat(std::initializer_list<std::string> parts) {
    std::string text;
    for (const auto &part : parts)
        text += part;
    return text;
}

std::string padded(unsigned value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*u", width, value);
    return text;
}

// Writes lines with one line end style and one spacing style around "=".
class IniWriter {
  public:
    explicit IniWriter(std::string &out) : out_(out) {}

    void use_crlf(bool crlf) { line_end_ = crlf ? "\r\n" : "\n"; }
    void use_tight_equals(bool tight) { equals_ = tight ? "=" : " = "; }

    void section(const std::string &name) { line("[" + name + "]"); }
    void key(const std::string &name, const std::string &value) { line(name + equals_ + value); }
    void comment(char marker, const std::string &text) {
        line(std::string(1, marker) + " " + text);
    }
    void blank() { line(""); }

  private:
    void line(const std::string &text) {
        out_ += text;
        out_ += line_end_;
    }

    std::string &out_;
    const char *line_end_ = "\n";
    const char *equals_ = " = ";
};

// ---- typical -------------------------------------------------------------

const char *const kWords[] = {"alpha", "bravo",  "delta", "echo",   "kilo",   "lima",
                              "oscar", "sierra", "tango", "victor", "yankee", "zulu"};
const char *const kSentences[] = {"Front end web server",
                                  "Handles login and token refresh",
                                  "Nightly export of the order tables",
                                  "Internal only, do not expose",
                                  "Primary replica in the north zone",
                                  "Reads from the shared message bus",
                                  "Owned by the platform team",
                                  "Serves static assets with long expiry"};
const char *const kCommentTexts[] = {
    "tuned for peak load",         "see the runbook before changing", "values below are defaults",
    "keep in sync with the proxy", "raised after the last incident",  "TODO review next quarter"};
const char *const kLevels[] = {"debug", "info", "warn", "error"};
const char *const kDirs[] = {"/var/lib", "/var/log", "/etc", "/srv", "/opt", "/run"};

std::string path_value(Random &random, const std::string &unit, const char *suffix) {
    return concat({random.pick(kDirs), "/", unit, "/", random.pick(kWords), suffix});
}

std::string hex_value(Random &random, size_t digits) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    while (text.size() < digits)
        text += kHex[random.next() % 16];
    return text;
}

// Each key of a typical section with the way its value is made.
using ValueMaker = std::string (*)(Random &, const std::string &unit);
struct KeyKind {
    const char *name;
    ValueMaker value;
};

const KeyKind kTypicalKeys[] = {
    {"enabled", [](Random &r, const std::string &) { return std::string(r.percent(80) ? "true" : "false"); }},
    {"port", [](Random &r, const std::string &) { return number(r.between(1024, 65535)); }},
    {"host", [](Random &r, const std::string &u) { return u + "." + r.pick(kWords) + ".internal"; }},
    {"address",
     [](Random &r, const std::string &) {
         return concat({"10.", number(r.between(0, 255)), ".", number(r.between(0, 255)), ".",
                        number(r.between(1, 254))});
     }},
    {"description", [](Random &r, const std::string &) { return "\"" + std::string(r.pick(kSentences)) + "\""; }},
    {"user", [](Random &r, const std::string &) { return std::string(r.pick(kWords)); }},
    {"group", [](Random &r, const std::string &) { return std::string(r.pick(kWords)); }},
    {"workers", [](Random &r, const std::string &) { return number(r.between(1, 64)); }},
    {"timeout", [](Random &r, const std::string &) { return number(r.between(1, 300)); }},
    {"retries", [](Random &r, const std::string &) { return number(r.between(0, 9)); }},
    {"log.level", [](Random &r, const std::string &) { return std::string(r.pick(kLevels)); }},
    {"log.path", [](Random &r, const std::string &u) { return path_value(r, u, ".log"); }},
    {"log.rotate.size", [](Random &r, const std::string &) { return number(r.between(1, 512) * 1048576ull); }},
    {"log.rotate.keep", [](Random &r, const std::string &) { return number(r.between(1, 30)); }},
    {"tls.enabled", [](Random &r, const std::string &) { return std::string(r.percent(50) ? "yes" : "no"); }},
    {"tls.cert", [](Random &r, const std::string &u) { return path_value(r, u, ".pem"); }},
    {"tls.key", [](Random &r, const std::string &u) { return path_value(r, u, ".key"); }},
    {"limits.connections", [](Random &r, const std::string &) { return number(r.between(16, 20000)); }},
    {"limits.memory", [](Random &r, const std::string &) { return number(r.between(64, 8192)) + "M"; }},
    {"limits.cpu", [](Random &r, const std::string &) { return concat({number(r.between(0, 7)), ".", number(r.between(0, 9))}); }},
    {"data_dir", [](Random &r, const std::string &u) { return path_value(r, u, ""); }},
    {"pid_file", [](Random &r, const std::string &u) { return path_value(r, u, ".pid"); }},
    {"upstream", [](Random &r, const std::string &) { return concat({r.pick(kWords), ".svc:", number(r.between(1024, 9999))}); }},
    {"owner", [](Random &r, const std::string &) { return "\"Team " + std::string(r.pick(kWords)) + "\""; }},
    {"tags", [](Random &r, const std::string &) { return concat({r.pick(kWords), ",", r.pick(kWords), ",", r.pick(kWords)}); }},
    {"weight", [](Random &r, const std::string &) { return "0." + number(r.between(1, 99)); }},
    {"health.path", [](Random &r, const std::string &) { return "/" + std::string(r.pick(kWords)) + "/healthz"; }},
    {"health.interval", [](Random &r, const std::string &) { return number(r.between(5, 120)); }},
    {"health.timeout", [](Random &r, const std::string &) { return number(r.between(1, 30)); }},
    {"env", [](Random &r, const std::string &) { return std::string(r.percent(70) ? "production" : "staging"); }},
    {"region", [](Random &r, const std::string &) { return std::string(r.percent(50) ? "eu-north" : "us-east"); }},
    {"version", [](Random &r, const std::string &) { return concat({number(r.between(0, 9)), ".", number(r.between(0, 40)), ".", number(r.between(0, 99))}); }},
    {"checksum", [](Random &r, const std::string &) { return hex_value(r, 12); }},
    {"command", [](Random &r, const std::string &u) { return "\"/usr/bin/" + u + " --config " + path_value(r, u, ".conf") + "\""; }},
    {"schedule", [](Random &r, const std::string &) { return concat({"\"", number(r.between(0, 59)), " ", number(r.between(0, 23)), " * * *\""}); }},
    {"max_body_size", [](Random &r, const std::string &) { return number(r.between(1, 64) * 1024ull); }},
    {"cache.ttl", [](Random &r, const std::string &) { return number(r.between(10, 86400)); }},
    {"cache.size", [](Random &r, const std::string &) { return number(r.between(100, 100000)); }},
};

const char *const kKinds[] = {"service", "database", "cache",   "queue",
                              "worker",  "proxy",    "storage", "scheduler"};
const char *const kRoles[] = {"web", "api", "auth", "search", "mail", "batch", "etl", "gateway"};

// 8 to 30 keys, most sections near the low end as in real configs: about 13
// keys on average, so that 5,000 sections make about 2 MB.
unsigned skewed_key_count(Random &random) {
    unsigned first = random.between(0, 22);
    unsigned second = random.between(0, 22);
    return 8 + first * second / 22;
}

// Every section and every key in a section is distinct, because some peers
// refuse duplicates; comments and blank lines never sit inside a value.
std::string make_typical() {
    Random random(0x7479706963616cull);
    std::string out;
    IniWriter ini(out);
    const unsigned sections = 5000;
    const unsigned pairs = std::size(kKinds) * std::size(kRoles);
    std::vector<size_t> keys(std::size(kTypicalKeys));
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i] = i;
    for (unsigned s = 0; s < sections; ++s) {
        std::string unit = std::string(kRoles[(s / std::size(kKinds)) % std::size(kRoles)]) +
                           padded(s / pairs + 1, 2);
        ini.use_crlf(random.percent(10));
        ini.use_tight_equals(random.percent(20));
        if (random.percent(30))
            ini.comment('#', std::string(random.pick(kCommentTexts)));
        ini.section(std::string(kKinds[s % std::size(kKinds)]) + "." + unit);
        random.shuffle(keys);
        unsigned count = skewed_key_count(random);
        for (unsigned k = 0; k < count; ++k) {
            if (random.percent(9)) {
                char marker = random.percent(50) ? ';' : '#';
                ini.comment(marker, random.pick(kCommentTexts));
            }
            const KeyKind &kind = kTypicalKeys[keys[k]];
            ini.key(kind.name, kind.value(random, unit));
            if (random.percent(3))
                ini.blank();
        }
        ini.blank();
    }
    return out;
}

// ---- wide ----------------------------------------------------------------

std::string make_wide() {
    Random random(0x77696465ull);
    const unsigned keys = 50000;
    std::vector<unsigned> order(keys);
    for (unsigned i = 0; i < keys; ++i)
        order[i] = i;
    random.shuffle(order);
    std::string out;
    IniWriter ini(out);
    ini.section("settings");
    for (unsigned key : order)
        ini.key("option_" + padded(key, 5), number(random.between(0, 999999)));
    return out;
}

// ---- deep ----------------------------------------------------------------

// Few words per level, so that paths share long prefixes.
const char *const kDeepLevels[][4] = {
    {"org", "net", "com", "io"},           {"example", "acme", "initech", "globex"},
    {"platform", "infra", "apps", "data"}, {"eu", "us", "ap", "sa"},
    {"prod", "stage", "test", "dev"},      {"cluster", "pool", "ring", "group"},
    {"node", "shard", "replica", "slot"},  {"disk", "net", "cpu", "mem"},
    {"io", "queue", "cache", "limits"},    {"read", "write", "sync", "trim"},
    {"bytes", "count", "rate", "errors"},  {"max", "min", "avg", "last"},
};

std::string dotted_path(Random &random, size_t first_level, size_t levels) {
    std::string path;
    for (size_t level = first_level; level < first_level + levels; ++level) {
        if (!path.empty())
            path += '.';
        path += random.pick(kDeepLevels[level]);
    }
    return path;
}

std::string make_deep() {
    Random random(0x64656570ull);
    std::string out;
    IniWriter ini(out);
    // A section and a key can join into the full name of another pair
    // ("a.b" + "c" and "a" + "b.c"); such a pair is left out.
    std::set<std::string> sections, full_names;
    const unsigned section_count = 700;
    while (sections.size() < section_count) {
        unsigned section_levels = random.between(2, 5);
        std::string name = dotted_path(random, 0, section_levels);
        if (!sections.insert(name).second)
            continue;
        ini.section(name);
        std::set<std::string> keys;
        unsigned key_count = random.between(15, 40);
        while (keys.size() < key_count) {
            unsigned total_levels = random.between(8, 12);
            std::string key = dotted_path(random, section_levels, total_levels - section_levels);
            if (keys.insert(key).second && full_names.insert(name + "." + key).second)
                ini.key(key, number(random.between(0, 100000)));
        }
        ini.blank();
    }
    return out;
}

// ---- small ---------------------------------------------------------------

const char kSmall[] = R"(# Order service configuration
# Values are read once at start; send SIGHUP to reload the [log] section.

[server]
host = 0.0.0.0
port = 8443
workers = 8
backlog = 512
read_timeout = 30
write_timeout = 30
idle_timeout = 120
max_header_bytes = 16384
public_url = "https://orders.example.com/api"

[server.tls]
enabled = true
cert = /etc/orders/tls/server.crt
key = /etc/orders/tls/server.key
min_version = 1.2
ciphers = ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384

[database]
driver = postgres
host = db-primary.internal
port = 5432
name = orders
user = orders_app
password_file = /run/secrets/orders_db
pool.min = 4
pool.max = 32
pool.idle_timeout = 300
statement_timeout = 15000
; the replica takes reads when lag stays under this many seconds
replica.host = db-replica.internal
replica.max_lag = 5

[cache]
backend = redis
address = cache.internal:6379
database = 2
ttl.default = 600
ttl.catalog = 3600
ttl.session = 1800
key_prefix = orders:

[queue]
url = amqp://queue.internal:5672/orders
exchange = orders.events
prefetch = 64
retry.max = 5
retry.backoff_ms = 250
dead_letter = orders.dead

[log]
level = info
format = json
path = /var/log/orders/service.log
rotate.size = 104857600
rotate.keep = 14
; request bodies are never logged
access_log = true
slow_request_ms = 750

[metrics]
enabled = true
listen = 127.0.0.1:9102
namespace = orders
histogram.buckets = 5,10,25,50,100,250,500,1000

[features]
new_checkout = true
gift_cards = false
split_payments = true
banner_text = "Free shipping on orders over 50 EUR"

[payment.provider]
name = stripe
endpoint = https://api.payments.example.net/v1
timeout = 10
webhook_secret_file = /run/secrets/payment_webhook

[email]
smtp.host = smtp.internal
smtp.port = 587
smtp.starttls = true
from = "Order Desk <orders@example.com>"
reply_to = support@example.com
template_dir = /usr/share/orders/mail

[scheduler]
cleanup.cron = "15 3 * * *"
report.cron = "0 6 * * 1"
report.recipients = finance@example.com,ops@example.com
timezone = Europe/Berlin

[limits]
orders_per_minute = 1200
items_per_order = 250
upload_bytes = 10485760
# per customer, counted over a sliding hour
coupon_attempts = 20

[search]
index = /var/lib/orders/search
refresh_interval = 30
languages = en,de,fr,sv
synonyms_file = /etc/orders/synonyms.txt
result_limit = 100

[audit]
enabled = true
sink = file
path = /var/log/orders/audit.log
fields = user,action,order_id,amount,currency
retention_days = 400
)";

// ---- real ----------------------------------------------------------------

bool has_ini_name(const std::filesystem::path &path) {
    static const char *const kUnitSuffixes[] = {".service", ".socket", ".timer", ".target",
                                                ".mount",   ".path",   ".slice"};
    std::string name = path.filename().string();
    std::string suffix = path.extension().string();
    if (name == "setup.cfg" || suffix == ".ini" || suffix == ".desktop")
        return true;
    if (path.string().find("/systemd/") == std::string::npos)
        return false;
    return std::find(std::begin(kUnitSuffixes), std::end(kUnitSuffixes), suffix) !=
           std::end(kUnitSuffixes);
}

std::string_view trim_left(std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    return line;
}

// Keeps to the common ground of INI readers, so that every parser compared
// reads the same text: the file opens with a section, every other line is
// blank, a comment, a section header or an unindented key=value line, no line
// continues onto the next and every line is short.
bool is_plain_ini(std::string_view text) {
    const size_t max_line = 190;
    bool seen_section = false;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > max_line || line.find('\0') != std::string_view::npos ||
            line.find('\r') != std::string_view::npos)
            return false;
        std::string_view body = trim_left(line);
        if (body.empty() || body.front() == '#' || body.front() == ';')
            continue;
        if (!line.empty() && line.back() == '\\')
            return false;
        if (body.front() == '[') {
            if (body.back() != ']' || body.size() < 3)
                return false;
            seen_section = true;
            continue;
        }
        size_t equals = line.find('=');
        if (!seen_section || body.size() != line.size() || equals == 0 ||
            equals == std::string_view::npos || line.find_first_of("[]") < equals)
            return false;
    }
    return seen_section;
}

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::filesystem::path> find_ini_files() {
    namespace fs = std::filesystem;
    static const char *const kRoots[] = {"/etc", "/usr/lib", "/usr/local/lib", "/usr/share"};
    const std::uintmax_t max_file = 256 * 1024;
    std::set<fs::path> found; // canonical paths: units are often linked under several names
    for (const char *root : kRoots) {
        std::error_code error;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            std::error_code ignored;
            if (!has_ini_name(it->path()) || !it->is_regular_file(ignored) ||
                it->file_size(ignored) > max_file)
                continue;
            fs::path real = fs::canonical(it->path(), ignored);
            if (!ignored)
                found.insert(real);
        }
    }
    return {found.begin(), found.end()};
}

} // namespace

std::vector<std::string> corpus_names() { return {"typical", "wide", "deep", "small"}; }

std::string make_corpus(std::string_view name) {
    if (name == "typical")
        return make_typical();
    if (name == "wide")
        return make_wide();
    if (name == "deep")
        return make_deep();
    if (name == "small")
        return kSmall;
    return "";
}

std::string make_real_corpus() {
    std::string out;
    for (const auto &path : find_ini_files()) {
        std::string text = read_file(path);
        if (!is_plain_ini(text))
            continue;
        out += text;
        if (out.back() != '\n')
            out += '\n';
    }
    return out;
}

} // namespace daduzozi_bench
