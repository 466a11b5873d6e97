// The watch a long call runs under: a stop ends the work without becoming a
// result, and a small thread stack lowers the depth rules may nest to.

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <string>
#include <thread>

#include "form/judge.h"
#include "form/recompute.h"
#include "form/session.h"
#include "support.h"
#include "tree/query.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "xpath/watch.h"

namespace tovarn {
namespace {

using test_support::repeat;

// Quadratic in the rows, with many small evaluations: long enough for the
// watch to poll several times.
const std::string kRows = repeat("<a>1</a>", 1500);
const std::string kForm = "<h><model><instance><data><r/>" + kRows +
                          "</data></instance>"
                          "<bind nodeset='/data/r' calculate='1 + 1'/>"
                          "<bind nodeset='/data/a' constraint='count(../a[. = 1]) &gt; 0'/></model></h>";

bool always(void*) { return true; }

TEST(Watch, StopIsNeverAFinding) {
  form::FormModel model = test_support::load(kForm);
  tree::Document instance = test_support::read("<data><r/>" + kRows + "</data>");
  xpath::Watch watch(&always, nullptr);
  EXPECT_TRUE(form::judge_submission(model, instance, xpath::Clock("", "")).empty());
  EXPECT_TRUE(watch.stopped());
  // From then on every evaluation fails at once.
  auto expr = xpath::parse_expression("1");
  EXPECT_FALSE(expr.has_value());
}

TEST(Watch, StoppedEvaluationFails) {
  tree::Document doc = test_support::read("<data>" + kRows + "</data>");
  auto expr = xpath::parse_expression("count(/data/a[count(../a[. = 1]) > 0])");
  ASSERT_TRUE(expr.has_value());
  xpath::Watch watch(&always, nullptr);
  auto value = xpath::evaluate(*expr, doc, xpath::EvalContext{*doc.root()}, xpath::Clock("", ""));
  ASSERT_FALSE(value.has_value());
  EXPECT_EQ(value.error(), xpath::interrupted_message());
}

TEST(Watch, StopEndsOneLongWalk) {
  // One comparison, no evaluation in it but the walk of its path's nodes,
  // which then looks at the watch itself.
  tree::Document doc = test_support::read("<data>" + repeat("<a>1</a>", 400'000) + "</data>");
  auto expr = xpath::parse_expression("/data/a = 2");
  ASSERT_TRUE(expr.has_value());
  xpath::Watch watch(&always, nullptr);
  // The watch asks its poll no sooner than a few milliseconds after it is made.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto value = xpath::evaluate(*expr, doc, xpath::EvalContext{*doc.root()}, xpath::Clock("", ""));
  ASSERT_FALSE(value.has_value());
  EXPECT_EQ(value.error(), xpath::interrupted_message());
}

bool count_poll(void* data) {
  ++*static_cast<int*>(data);
  return false;
}

TEST(Watch, FirstPollDueSoonComesWithinAFewHundredSteps) {
  // Looks at the usual pace (every 1024 steps) would not have reached it yet.
  int polls = 0;
  xpath::Watch watch(&count_poll, &polls, 0);
  for (int step = 0; step < 256; ++step) static_cast<void>(watch.interrupted());
  EXPECT_EQ(polls, 1);
}

// Stops once the calculation is written, while the session is judged.
bool once_written(void* data) {
  const auto* session = static_cast<const form::Session*>(data);
  const tree::Document& instance = session->instance;
  return !instance.text(*instance.first_child(*instance.root())).empty();
}

TEST(Watch, StoppedRecomputeLeavesTheSession) {
  auto made = form::session_new(kForm, xpath::Clock("", ""));
  ASSERT_TRUE(made.has_value()) << made.error();
  form::Session& session = *made;
  const std::string before = tree::write_xml(session.instance);
  {
    xpath::Watch watch(&once_written, &session);
    form::RecomputeResult result = form::recompute_session(session);
    ASSERT_TRUE(watch.stopped());
    EXPECT_TRUE(result.calculated.empty() && result.relevant.empty() && result.failed.empty());
  }
  EXPECT_EQ(tree::write_xml(session.instance), before);
  EXPECT_EQ(form::recompute_session(session).calculated.at("/data/r"), "2");
}

struct OnSmallStack {
  const xpath::Expr* deep;  // parsed where the stack is large
  int max_depth = 0;
  std::string parsed, evaluated;
};

void* run_on_small_stack(void* data) {
  auto* run = static_cast<OnSmallStack*>(data);
  xpath::Watch watch(nullptr, nullptr);
  run->max_depth = watch.max_depth();
  auto parsed = xpath::parse_expression(repeat("abs(", 999) + "1" + repeat(")", 999));
  run->parsed = parsed ? "parsed" : parsed.error();
  tree::Document doc = test_support::read("<a/>");
  auto value = xpath::evaluate(*run->deep, doc, xpath::EvalContext{*doc.root()},
                               xpath::Clock("", ""));
  run->evaluated = value ? "evaluated" : value.error();
  return nullptr;
}

TEST(Watch, SmallStackLowersTheDepth) {
  auto deep = xpath::parse_expression(repeat("abs(", 999) + "1" + repeat(")", 999));
  ASSERT_TRUE(deep.has_value()) << deep.error();
  OnSmallStack run{&*deep, 0, {}, {}};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 128 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, &run_on_small_stack, &run), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  const std::string refusal =
      "expression nests deeper than " + std::to_string(run.max_depth) + " levels";
  EXPECT_LT(run.max_depth, 999);
  EXPECT_EQ(run.parsed, refusal);
  // A tree deeper than the stack holds fails where it would overflow.
  EXPECT_EQ(run.evaluated, refusal);
}

TEST(Watch, WithoutOneTheLimitStays) {
  EXPECT_EQ(xpath::max_expr_depth(), xpath::kMaxExprDepth);
  xpath::Watch watch(nullptr, nullptr);  // the test's main thread: 8 MiB
  EXPECT_EQ(watch.max_depth(), xpath::kMaxExprDepth);
}

}  // namespace
}  // namespace tovarn
