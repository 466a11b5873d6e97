#include "xpath/value.h"

// Placeholder until the values land.
namespace tovarn::xpath {
bool value_to_boolean(const Value&) { return false; }
std::string value_to_string(const Value&) { return ""; }
double value_to_number(const Value&) { return 0; }
std::string format_number(double) { return "0"; }
double string_to_number(std::string_view) { return 0; }
bool compare_equal(BinaryOp, const Value&, const Value&) { return false; }
std::string_view kind_phrase(const Value&) { return "a string"; }
std::expected<NodeSet, std::string> value_to_nodeset(Value&&, std::string_view what) { return std::unexpected(std::string(what)); }
void sort_document_order(std::vector<tree::NodeId>&, const tree::Document&) {}
}  // namespace tovarn::xpath
