// Helpers the unit tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "form/model.h"
#include "tree/document.h"
#include "tree/xml.h"

namespace tovarn::test_support {

inline std::string repeat(std::string_view text, std::size_t n) {
  std::string out;
  out.reserve(text.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += text;
  return out;
}

// The document, or an empty one and a failure of the test.
inline tree::Document read(std::string_view xml) {
  auto doc = tree::parse_xml(xml);
  EXPECT_TRUE(doc) << xml.substr(0, 200) << ": " << doc.error();
  return doc ? std::move(*doc) : tree::Document();
}

// Names that recur at every level: rows of the same names, a child and a
// second /model/data named like their ancestors, an attribute named like a
// child, and an instance beside them.
inline std::string rows_and_instances() {
  std::string xml = "<model><data q='attr'>";
  for (int i = 0; i < 20; ++i)
    xml += i % 3 ? "<r><q>" + std::to_string(i) + "</q><q/><s/></r>" : "<q/><model/>";
  xml += "<g><q/><r><q/></r></g></data><instance id='x'><root><item/><item/></root></instance>"
         "<data><q/></data></model>";
  return xml;
}

// The form's model, or an empty one and a failure of the test.
inline form::FormModel load(std::string_view text) {
  auto model = form::load_form_model(text);
  EXPECT_TRUE(model) << model.error();
  return model ? std::move(*model) : form::FormModel{};
}

}  // namespace tovarn::test_support
