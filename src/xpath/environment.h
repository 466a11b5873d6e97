#pragma once
// The evaluator's only window to the outside.

#include <optional>
#include <string>
#include <string_view>

#include "tree/document.h"

namespace tovarn::xpath {

class Environment {
 public:
  virtual ~Environment() = default;
  // A secondary instance or pulldata() table by id, or nullptr. The document
  // lives at least as long as the environment.
  virtual const tree::Document* instance(std::string_view id) const = 0;
  // The label of a choice value for the question at a path.
  virtual std::optional<std::string> choice_label(std::string_view value,
                                                  std::string_view question_path) const = 0;
  virtual std::string_view today() const = 0;
  virtual std::string_view now() const = 0;
};

// The clock of one request or of a session's life: only today and now.
class Clock final : public Environment {
 public:
  Clock(std::string today, std::string now) : today_(std::move(today)), now_(std::move(now)) {}
  const tree::Document* instance(std::string_view) const override { return nullptr; }
  std::optional<std::string> choice_label(std::string_view, std::string_view) const override {
    return std::nullopt;
  }
  std::string_view today() const override { return today_; }
  std::string_view now() const override { return now_; }

 private:
  std::string today_;
  std::string now_;
};

// The clock of the texts given, each absent one the machine's current local
// date ("2024-05-31") or date-time ("2024-05-31T14:03:09.120+02:00", "Z" at
// offset zero), both from one reading so they agree. Safe on any thread; with
// both texts given the machine is not asked.
Clock local_clock(std::optional<std::string> today, std::optional<std::string> now);

}  // namespace tovarn::xpath
