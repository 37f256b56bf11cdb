// Refuses every allocation of a set of call sequences in turn, one at a time,
// and checks what is left against a small model of the context written apart
// from the library: the scanner's records (taken from the case table) are
// kept up to the refused record block, and the builder files them by the
// dotted-name rules until its first refused node block. A refused replacing
// leaf must leave the old node in place. After every call the structure must
// hold, and deinit must give back each granted block exactly once.
#include <algorithm>
#include <cstdint>
#include <list>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "invariants.hpp"
#include "tracking_allocator.hpp"

namespace {

using tovik_test::ContextTest;
using tovik_test::Record;
using tovik_test::Records;
using tovik_test::TrackingAllocator;

constexpr uint32_t kReplace = TOVIK_FLAG_REPLACE;

// ---------------------------------------------------------------------------
// Call sequences

// The caller's own node "p" at the root, under which later parse calls graft.
constexpr char kCallerNode[] = "p";

struct Step {
    bool adds_caller_node; // otherwise a parse call
    std::string text;
    uint32_t flags;
    bool under_caller_node;
    Records records; // what the scanner makes of `text` when nothing is refused
};

Step add_caller_node() { return Step{true, "", 0, false, {}}; }

Step parse_call(std::string text, Records records, uint32_t flags = 0, bool under = false) {
    return Step{false, std::move(text), flags, under, std::move(records)};
}

struct Scenario {
    const char *label;
    std::vector<Step> steps;
    std::string clean_tree; // the tree after a run in which nothing is refused
};

const std::vector<Scenario> &scenarios() {
    static const std::vector<Scenario> all = {
        {"sections",
         {parse_call("[net]\nport = 80\nhost = example.org\n[db]\nname = main\n",
                     {{"net.port", "80"}, {"net.host", "example.org"}, {"db.name", "main"}})},
         "net{port=80 host=example.org} db{name=main}"},
        {"dotted_names",
         {parse_call("[a.b]\nc.d = 1\n[a]\nb.e = 2\n..x = 3\ny. = 4\n",
                     {{"a.b.c.d", "1"}, {"a.b.e", "2"}, {"a...x", "3"}, {"a.y.", "4"}})},
         "a{b{c{d=1} e=2} x=3 y}"},
        {"duplicates_first_wins",
         {parse_call("x=1\nx=2\n[s]\nk=1\nk=2\nk.sub=3\n",
                     {{"x", "1"}, {"x", "2"}, {"s.k", "1"}, {"s.k", "2"}, {"s.k.sub", "3"}})},
         "x=1 s{k=1{sub=3}}"},
        {"duplicates_replaced",
         {parse_call("a.b=1\na.c=2\nz=0\na=3\nz=4\na.d=5\n",
                     {{"a.b", "1"}, {"a.c", "2"}, {"z", "0"}, {"a", "3"}, {"z", "4"}, {"a.d", "5"}},
                     kReplace)},
         "a=3{d=5} z=4"},
        {"grafted_under_caller_node",
         {add_caller_node(), parse_call("[net]\nport = 80\n", {{"net.port", "80"}}, 0, true),
          parse_call("[net]\nport = 81\nhost = h\n", {{"net.port", "81"}, {"net.host", "h"}},
                     kReplace, true),
          parse_call("top = 1\n", {{"top", "1"}})},
         "p{net{port=81 host=h}} top=1"},
        {"several_calls",
         {parse_call("a=1\nb.c=2\n", {{"a", "1"}, {"b.c", "2"}}),
          parse_call("a=9\nb.d=3\n", {{"a", "9"}, {"b.d", "3"}}),
          parse_call("b=7\nc=8\n", {{"b", "7"}, {"c", "8"}}, kReplace)},
         "a=1 b=7 c=8"},
        {"crlf_and_unterminated_last_line",
         {parse_call("[s]\r\nk = v\r\nq = \"x\r\ny\"\r\nlast=1",
                     {{"s.k", "v"}, {"s.q", "x\r\ny"}, {"s.last", "1"}})},
         "s{k=v q=x\r\ny last=1}"},
    };
    return all;
}

// ---------------------------------------------------------------------------
// The model

// Each text takes its bytes and a NUL, rounded up to a multiple of 4.
size_t text_area(size_t len) { return (len + 1 + 3) / 4 * 4; }

size_t record_block(const Record &record) {
    return sizeof(tovik_kv) + text_area(record.first.size()) + text_area(record.second.size());
}

struct ModelNode {
    std::string name;
    std::optional<std::string> value;
    std::list<ModelNode> children; // a list, so that `caller_` stays valid

    ModelNode *child(std::string_view wanted) {
        for (ModelNode &c : children)
            if (c.name == wanted)
                return &c;
        return nullptr;
    }
    size_t block_size() const {
        return sizeof(tovik_tree_node) + text_area(name.size()) +
               (value ? text_area(value->size()) : 0);
    }
    size_t subtree_size() const {
        size_t n = 1;
        for (const ModelNode &c : children)
            n += c.subtree_size();
        return n;
    }
    // The same layout as tovik_test::dump_tree.
    std::string dump() const {
        std::string out;
        for (const ModelNode &c : children) {
            if (!out.empty())
                out += ' ';
            out += c.name;
            if (c.value)
                out += '=' + *c.value;
            if (!c.children.empty())
                out += '{' + c.dump() + '}';
        }
        return out;
    }
};

std::vector<std::string_view> split_at_dots(std::string_view name) {
    std::vector<std::string_view> segments;
    for (size_t dot; (dot = name.find('.')) != std::string_view::npos; name.remove_prefix(dot + 1))
        segments.push_back(name.substr(0, dot));
    segments.push_back(name);
    return segments;
}

// What a context holds after each step when the request numbered `refused`
// (from 1, over the whole sequence; 0 for none) is the only one refused.
class Model {
  public:
    explicit Model(size_t refused) : refused_(refused) {}

    // False when the step could not create the caller's node, which ends
    // the sequence.
    bool run(const Step &step) {
        if (step.adds_caller_node) {
            ModelNode node{kCallerNode, std::nullopt, {}};
            if (!request(node.block_size()))
                return false;
            caller_ = &root_.children.emplace_back(std::move(node));
            return true;
        }
        parse(step);
        return true;
    }

    const Records &records() const { return records_; }
    std::string tree() const { return root_.dump(); }
    const std::vector<size_t> &requests() const { return requests_; }
    size_t released() const { return released_; }

  private:
    bool request(size_t size) {
        requests_.push_back(size);
        return requests_.size() != refused_;
    }

    // The scanner makes every record before the builder files any, and a
    // refused record ends the scan; the builder then files what was made.
    void parse(const Step &step) {
        size_t first_new = records_.size();
        for (const Record &record : step.records) {
            if (!request(record_block(record)))
                break;
            records_.push_back(record);
        }
        ModelNode &top = step.under_caller_node ? *caller_ : root_;
        bool replace = (step.flags & kReplace) != 0;
        for (size_t i = first_new; i < records_.size(); ++i)
            if (!file(top, records_[i], replace))
                return;
    }

    bool file(ModelNode &top, const Record &record, bool replace) {
        std::vector<std::string_view> segments = split_at_dots(record.first);
        std::string_view leaf = segments.back();
        segments.pop_back();
        ModelNode *at = &top;
        for (std::string_view segment : segments) {
            if (segment.empty())
                continue;
            ModelNode *next = at->child(segment);
            if (!next) {
                ModelNode node{std::string(segment), std::nullopt, {}};
                if (!request(node.block_size()))
                    return false;
                next = &at->children.emplace_back(std::move(node));
            }
            at = next;
        }
        if (leaf.empty())
            return true;
        ModelNode *old = at->child(leaf);
        if (old && !replace)
            return true;
        ModelNode node{std::string(leaf), record.second, {}};
        if (!request(node.block_size()))
            return false;
        if (old) {
            released_ += old->subtree_size();
            at->children.remove_if([old](const ModelNode &c) { return &c == old; });
        }
        at->children.push_back(std::move(node));
        return true;
    }

    size_t refused_;
    ModelNode root_;
    ModelNode *caller_ = nullptr;
    Records records_;
    std::vector<size_t> requests_;
    size_t released_ = 0;
};

// ---------------------------------------------------------------------------
// Running a sequence on the library

// Runs one step; false when the caller's node was refused.
bool run_step(tovik_ctx &ctx, const Step &step, tovik_tree_node *&caller) {
    if (step.adds_caller_node) {
        caller = tovik_add_subnode(&ctx, nullptr, kCallerNode, sizeof kCallerNode - 1);
        return caller != nullptr;
    }
    EXPECT_EQ(0, tovik_parse_data_ex(&ctx, step.under_caller_node ? caller : nullptr,
                                     step.text.data(), step.text.size(), step.flags));
    return true;
}

size_t requests_of_clean_run(const Scenario &scenario) {
    TrackingAllocator heap;
    tovik_ctx ctx{};
    tovik_init(&ctx, TrackingAllocator::alloc, TrackingAllocator::release, &heap);
    tovik_tree_node *caller = nullptr;
    for (const Step &step : scenario.steps)
        run_step(ctx, step, caller);
    tovik_deinit(&ctx);
    return heap.requests.size();
}

struct SweepPoint {
    const Scenario *scenario;
    size_t refused; // 0: nothing is refused
};

void PrintTo(const SweepPoint &p, std::ostream *os) {
    *os << p.scenario->label << " refusing request " << p.refused;
}

std::string name_of(const ::testing::TestParamInfo<SweepPoint> &info) {
    return std::string(info.param.scenario->label) +
           (info.param.refused ? "_refuse_" + std::to_string(info.param.refused) : "_clean");
}

std::vector<SweepPoint> clean_runs() {
    std::vector<SweepPoint> points;
    for (const Scenario &scenario : scenarios())
        points.push_back({&scenario, 0});
    return points;
}

std::vector<SweepPoint> every_refusal() {
    std::vector<SweepPoint> points;
    for (const Scenario &scenario : scenarios())
        for (size_t k = 1, n = requests_of_clean_run(scenario); k <= n; ++k)
            points.push_back({&scenario, k});
    return points;
}

class SweepTest : public ContextTest, public ::testing::WithParamInterface<SweepPoint> {
  protected:
    // Runs the sequence on the library and the model side by side and
    // compares them after every step; returns the model's last tree.
    std::string run_against_model() {
        const SweepPoint &point = GetParam();
        if (point.refused)
            heap.refuse_request(point.refused);
        Model model(point.refused);
        tovik_tree_node *caller = nullptr;
        for (size_t i = 0; i < point.scenario->steps.size(); ++i) {
            const Step &step = point.scenario->steps[i];
            SCOPED_TRACE("step " + std::to_string(i + 1));
            bool model_goes_on = model.run(step);
            bool library_goes_on = run_step(ctx, step, caller);
            EXPECT_EQ(model_goes_on, library_goes_on);
            EXPECT_EQ("", tovik_test::invariant_violations(ctx, heap));
            EXPECT_EQ(model.records(), records());
            EXPECT_EQ(model.tree(), tree());
            EXPECT_EQ(model.requests(), heap.requests) << "sizes or count of the requests";
            EXPECT_EQ(model.released(), heap.released.size()) << "blocks released by replacing";
            if (!model_goes_on || !library_goes_on)
                break;
        }
        return model.tree();
    }

    // Deinit gives back every granted block that is still live, each once.
    void expect_deinit_releases_every_block_once() {
        EXPECT_EQ(0, tovik_deinit(&ctx));
        EXPECT_EQ(0u, heap.live_blocks());
        EXPECT_TRUE(heap.errors.empty()) << heap.errors.front();
        std::vector<void *> granted = heap.granted;
        std::vector<void *> released = heap.released;
        std::sort(granted.begin(), granted.end());
        std::sort(released.begin(), released.end());
        EXPECT_EQ(granted, released);
    }
};

// Also proves the model right: with nothing refused it must give the tree
// written out by hand for each sequence.
class CleanRunTest : public SweepTest {};

TEST_P(CleanRunTest, LibraryAndModelGiveTheExpectedTree) {
    EXPECT_EQ(GetParam().scenario->clean_tree, run_against_model());
    EXPECT_EQ(GetParam().scenario->clean_tree, tree());
    expect_deinit_releases_every_block_once();
}

INSTANTIATE_TEST_SUITE_P(Sequences, CleanRunTest, ::testing::ValuesIn(clean_runs()), name_of);

TEST_P(SweepTest, RefusedRequestLeavesWhatTheModelPredicts) {
    run_against_model();
    expect_deinit_releases_every_block_once();
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, SweepTest, ::testing::ValuesIn(every_refusal()), name_of);

} // namespace
