#include "compat/detail/messages.h"

#include <array>

#include "xpath/quote.h"
#include "xpath/value.h"

namespace tovarn::compat::detail {
namespace {

struct BreaksText {
  std::string_view name;
  std::string_view where;
};

constexpr std::array<BreaksText, 4> kBreaks = {{
    {"Collect / KoboCollect", "on Collect / KoboCollect"},
    {"Enketo web forms", "on Enketo web forms"},
    {"both, differently", "and the two engines differ"},
    {"both, identically and silently", "identically on both engines"},
}};

const BreaksText& breaks_text(Breaks breaks) { return kBreaks[static_cast<std::size_t>(breaks)]; }

struct FunctionRow {
  std::string_view name;
  std::string_view construct;  // empty: the name followed by "()"
  std::string_view effect;
  std::string_view suggestion;  // empty: none
  Breaks breaks;
};

constexpr std::string_view kNotInEnketo =
    "Enketo does not implement it, so a web form cannot open this";

constexpr std::array<FunctionRow, 12> kFunctions = {{
    {"last", "last()", "JavaRosa has no last(), so the rule fails", "count() of the repeat",
     Breaks::collect},
    // int() truncates toward zero and the browser engine cannot read a minus
    // sign before a call, so the rewrites branch on the fraction instead.
    {"floor", "floor()", "JavaRosa has no floor()",
     "int() for a positive number, or if(x < int(x), int(x) - 1, int(x)) for any x",
     Breaks::collect},
    {"ceiling", "ceiling()", "JavaRosa has no ceiling()",
     "if(x > int(x), int(x) + 1, int(x)), which both engines evaluate", Breaks::collect},
    {"substring", "substring()", "JavaRosa has substr() but not substring()",
     "substr(), remembering it counts from 0 and its end is exclusive: substring(s, 2, 3) is "
     "substr(s, 1, 4)",
     Breaks::collect},
    {"pulldata", "pulldata()",
     "pulldata() is ODK Collect's own function, not an XForms one. Enketo does not have it, so "
     "every rule that calls it fails there",
     "instance('file')/root/item[key = \u2026]/column, which both engines evaluate",
     Breaks::enketo},
    {"geofence", "", kNotInEnketo, "", Breaks::enketo},
    {"is-selected", "", kNotInEnketo, "", Breaks::enketo},
    {"enclosed-area", "", kNotInEnketo, "", Breaks::enketo},
    {"base64-decode", "", kNotInEnketo, "", Breaks::enketo},
    {"extract-signed", "", kNotInEnketo, "", Breaks::enketo},
    {"area", "area()",
     "JavaRosa projects the shape onto a plane and Enketo uses a spherical formula, and Enketo "
     "also rounds to two decimals. Over a city block the two agree within a square metre; over "
     "a degree they differ by a tenth of a percent",
     "round() the result, or compare with a margin", Breaks::both_differently},
    {"distance", "distance()",
     "Enketo rounds the answer to two decimals and JavaRosa does not, so a rule comparing a "
     "distance against a threshold can fall either side of it",
     "round(distance(\u2026)) or a comparison with room to spare", Breaks::both_differently},
}};

std::string regex_suggestion(std::string_view pattern) {
  // A pattern read from an apostrophe literal holds no apostrophe, and one
  // from a double-quote literal no double quote, so one of the two quotes
  // always makes the suggestion an expression that parses.
  const char quote = pattern.find('\'') == std::string_view::npos ? '\'' : '"';
  std::string text(1, quote);
  text += "^(?:";
  text += pattern;
  text += ")$";
  text += quote;
  return text;
}

std::string_view where_phrase(Breaks breaks) { return breaks_text(breaks).where; }

}  // namespace

std::string_view breaks_output_name(Breaks breaks) { return breaks_text(breaks).name; }

std::string finding_sentence(std::string_view path, std::string_view rule,
                             std::string_view construct, std::string_view effect, Breaks breaks,
                             const std::optional<std::string>& suggestion) {
  std::string text;
  text.reserve(path.size() + rule.size() + construct.size() + effect.size() + 64 +
               (suggestion ? suggestion->size() : 0));
  text += path;
  text += " (";
  text += rule;
  text += "): ";
  text += construct;
  text += " \u2014 ";
  text += effect;
  text += ", ";
  text += where_phrase(breaks);
  text += '.';
  if (suggestion) {
    text += " Write ";
    text += *suggestion;
    text += " instead.";
  }
  return text;
}

CompatIssue repeat_comparison(std::string_view path) {
  std::string construct = "comparing ";
  construct += path;
  construct += ", which repeats";
  std::string suggestion = "count(";
  suggestion += path;
  suggestion += "[. = \u2026]) > 0, or indexed-repeat() to name one instance";
  return {std::move(construct), Breaks::collect,
          "JavaRosa refuses to compare a field that repeats against a value, so the whole rule "
          "fails",
          std::move(suggestion)};
}

CompatIssue descendant_shorthand() {
  return {"the // shorthand", Breaks::collect,
          "JavaRosa supports only child steps, so the path matches nothing",
          "the full path from the instance root"};
}

CompatIssue positional_predicate(double position) {
  const std::string number = xpath::format_number(position);
  return {"the positional predicate [" + number + "]", Breaks::collect,
          "JavaRosa matches nothing for a bare [n], so this silently reads as empty",
          "[position() = " + number + "]"};
}

std::optional<CompatIssue> function_issue(std::string_view name) {
  for (const FunctionRow& row : kFunctions) {
    if (row.name != name) continue;
    CompatIssue issue{row.construct.empty() ? std::string(name) + "()" : std::string(row.construct),
                      row.breaks, std::string(row.effect), std::nullopt};
    if (!row.suggestion.empty()) issue.suggestion = std::string(row.suggestion);
    return issue;
  }
  return std::nullopt;
}

CompatIssue regex_not_written_out() {
  return {"regex() with a pattern that is not written out", Breaks::both_differently,
          "the pattern is built at runtime, so whether it anchors cannot be checked here \u2014 "
          "the two engines still differ on unanchored ones",
          std::nullopt};
}

CompatIssue regex_alternation(std::string_view pattern) {
  return {"regex() with alternation outside the anchors: " + xpath::quote_text(pattern),
          Breaks::both_differently,
          "the ^ and $ bind only to the first and last alternatives, so this is anchored in "
          "JavaRosa and loose in Enketo despite looking anchored",
          regex_suggestion(pattern)};
}

CompatIssue regex_unanchored(std::string_view pattern) {
  return {"regex() with the unanchored pattern " + xpath::quote_text(pattern),
          Breaks::both_differently,
          "JavaRosa requires the whole value to match while Enketo accepts a match anywhere in "
          "it, so the same answer passes in one and fails in the other",
          regex_suggestion(pattern)};
}

CompatIssue boolean_from_string(std::string_view literal) {
  return {"boolean-from-string(" + xpath::quote_text(literal) + ")", Breaks::both_differently,
          "JavaRosa accepts any casing, Enketo only lowercase 'true'", "'true' in lowercase"};
}

CompatIssue rule_does_not_parse(std::string_view parser_message) {
  return {"a rule that does not parse", Breaks::both_differently,
          "parsing fails (" + std::string(parser_message) +
              "), so JavaRosa refuses to open the form and Enketo fails when it runs the rule",
          std::nullopt};
}

CompatIssue missing_instance_path(std::string_view path, std::optional<std::string> suggestion) {
  std::string construct(path);
  construct += ", which this form's instance has no node for";
  return {std::move(construct), Breaks::both_silently,
          "the path matches nothing, so the rule reads an empty node-set: a calculation comes "
          "out 0, a comparison comes out false, and a relevant hides its question for the whole "
          "of fieldwork",
          std::move(suggestion)};
}

std::string other_root_suggestion(std::string_view root_name, std::string_view first_step) {
  std::string text = "a path under /";
  text += root_name;
  text += " \u2014 that is this form's instance root, not /";
  text += first_step;
  return text;
}

std::string xml_error(std::string_view reader_message) {
  return "XForm XML: " + std::string(reader_message);
}

std::string no_root_element() { return "the XForm has no root element"; }

}  // namespace tovarn::compat::detail
