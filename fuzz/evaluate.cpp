// Evaluates the input as an expression at the root of a small fixed
// submission, as eval_expression does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/predicate_nesting.h"
#include "tree/xml.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "xpath/value.h"

namespace {

constexpr std::string_view kSubmission = R"(<data id="f" version="3">
  <start>2024-05-01T10:11:12.000+02:00</start><today>2024-05-01</today>
  <name>Ana María</name><age>42</age><height>1.75</height><neg>-0.5</neg><empty/>
  <colours>red green blue</colours><when>2024-02-29</when>
  <where>-1.2 36.8 1600 5</where><shape>0 0 0 0;0 1 0 0;1 1 0 0;0 0 0 0</shape>
  <rep pos="1"><q>3</q><c>a</c></rep><rep pos="2"><q>x</q><c>b c</c></rep>
  <instance id="cities"><root><item><name>nbo</name><label>Nairobi</label></item>
    <item><name>msa</name><label>Mombasa</label></item></root></instance>
  <meta><instanceID>uuid:0e4f</instanceID></meta>
</data>)";

const tovarn::tree::Document& submission() {
  static const tovarn::tree::Document doc = [] {
    auto parsed = tovarn::tree::parse_xml(kSubmission);
    if (!parsed) std::abort();
    return std::move(*parsed);
  }();
  return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (fuzz::nests_too_deep(text)) return -1;
  auto expr = tovarn::xpath::parse_expression(text);
  if (!expr) return 0;
  const auto& doc = submission();
  const tovarn::xpath::Clock clock("2024-05-01", "2024-05-01T10:11:12.000+02:00");
  auto value = tovarn::xpath::evaluate(*expr, doc, tovarn::xpath::EvalContext{.node = *doc.root()},
                                       clock);
  if (value) (void)tovarn::xpath::value_to_string(*value);
  return 0;
}
