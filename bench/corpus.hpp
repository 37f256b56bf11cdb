// Deterministic INI texts for the benchmarks and for the tests that compare
// the fast scanner and builder with the literal ones. The same name always
// gives the same bytes on every platform and standard library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace daduzozi_bench {

// One of the names listed by corpus_names(); an unknown name gives "".
//   typical  ~2 MB of service sections with 8-30 keys each, dotted keys,
//            numbers, paths, quoted values, ';' and '#' comment lines,
//            blank lines and some CRLF line ends
//   wide     one section holding 50,000 distinct keys
//   deep     sections and keys that together nest 8-12 dotted levels deep,
//            sharing their prefixes
//   small    one realistic application config of about 2.5 KB
std::string make_corpus(std::string_view name);

// "typical", "wide", "deep", "small".
std::vector<std::string> corpus_names();

// The plain INI-style files of this machine (systemd units, .desktop files,
// setup.cfg, *.ini) concatenated in path order. Built at run time and never
// stored with the project, so its bytes depend on the machine; may be empty.
std::string make_real_corpus();

} // namespace daduzozi_bench
