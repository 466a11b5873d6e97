// Runs a sequence of Session operations. The input is a form, a NUL byte, and
// the operations: each is an opcode byte followed by its operands. A path
// operand is a byte naming one of the instance's node paths (or, from 0xf0 up,
// a length byte and that many bytes of path text); a value operand is a
// length byte and its bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/predicate_nesting.h"
#include "form/recompute.h"
#include "form/session.h"
#include "tree/query.h"
#include "tree/xml.h"
#include "unicode/unicode.h"
#include "xpath/environment.h"

namespace {

using tovarn::form::Session;

class Operands {
 public:
  explicit Operands(std::string_view bytes) : bytes_(bytes) {}
  bool empty() const { return bytes_.empty(); }
  std::uint8_t byte() {
    if (bytes_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(bytes_[0]);
    bytes_.remove_prefix(1);
    return b;
  }
  std::string_view text() {
    const std::size_t n = std::min<std::size_t>(byte(), bytes_.size());
    const std::string_view t = bytes_.substr(0, n);
    bytes_.remove_prefix(n);
    return t;
  }

 private:
  std::string_view bytes_;
};

// Node paths of the instance and the repeat paths: where operations bite.
std::vector<std::string> known_paths(const Session& session) {
  std::vector<std::string> paths;
  if (const auto root = session.instance.root()) {
    paths.push_back(tovarn::tree::node_path(session.instance, *root));
    for (const auto id : tovarn::tree::descendants(session.instance, *root)) {
      paths.push_back(tovarn::tree::node_path(session.instance, id));
    }
  }
  for (const auto repeat : session.templates.outline.repeats()) {
    paths.push_back(session.templates.outline.path(repeat));
  }
  return paths;
}

// Callers hand over Python strings, which are always valid UTF-8.
std::optional<std::string> path_operand(Operands& in, const std::vector<std::string>& paths) {
  const std::uint8_t pick = in.byte();
  if (pick < 0xf0) {
    if (paths.empty()) return std::nullopt;
    return paths[pick % paths.size()];
  }
  const std::string_view text = in.text();
  if (!tovarn::unicode::is_valid_utf8(text)) return std::nullopt;
  return std::string(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\0');
  if (cut == std::string_view::npos) return -1;
  const std::string_view form_text = input.substr(0, cut);
  if (!tovarn::unicode::is_valid_utf8(form_text) || fuzz::nests_too_deep(input)) return -1;
  const tovarn::xpath::Clock clock("2024-05-01", "2024-05-01T10:11:12.000+02:00");
  auto session = tovarn::form::session_new(form_text, clock);
  if (!session) return 0;

  std::vector<std::string> paths = known_paths(*session);
  Operands in(input.substr(cut + 1));
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    const std::uint8_t op = in.byte();
    auto path = path_operand(in, paths);
    switch (op % 8) {
      case 0: {
        const std::string_view value = in.text();
        if (path && tovarn::unicode::is_valid_utf8(value)) {
          (void)tovarn::form::set_value(*session, *path, value);
        }
        break;
      }
      case 1:
        if (path) (void)tovarn::form::value_at(*session, *path);
        break;
      case 2:
        if (path) (void)tovarn::form::add_row(*session, *path);
        break;
      case 3: {
        const std::uint8_t position = in.byte();
        if (path) (void)tovarn::form::remove_row(*session, *path, position);
        break;
      }
      case 4:
        (void)tovarn::form::recompute_session(*session);
        break;
      case 5:
        if (path) (void)tovarn::form::choices(*session, *path);
        break;
      case 6: {
        // What instance_xml hands out must come back as a saved instance.
        const std::string saved = tovarn::tree::write_xml(session->instance);
        auto resumed = tovarn::form::session_with_instance(form_text, saved, clock);
        if (resumed) *session = std::move(*resumed);
        break;
      }
      case 7:
        if (path) {
          (void)tovarn::form::first_node(*session, *path);
          (void)tovarn::form::rows_at(*session, *path);
        }
        break;
    }
    // Rows come and go; keep the paths in step now and then.
    if (op % 8 == 2 || op % 8 == 3 || op % 8 == 6) paths = known_paths(*session);
  }
  (void)tovarn::tree::write_xml(session->instance);
  return 0;
}
