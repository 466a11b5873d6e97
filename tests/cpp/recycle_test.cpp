#include "tree/recycle.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support.h"
#include "tree/detail/dump.h"
#include "tree/xml.h"

namespace tovarn::tree {
namespace {

using test_support::repeat;

// What a reading must give whatever buffers it was built in: the tree, and
// the order every query walks.
std::string picture(const Document& doc) {
  std::string out = detail::dump(doc);
  for (std::uint32_t p = 0; p < doc.order_size(); ++p) {
    const NodeId id = doc.at_order_position(p);
    out += ' ' + std::to_string(index_of(id)) + ':' + std::to_string(doc.order_subtree_end(id));
  }
  return out;
}

// Large enough for the shelves (dense, indented, with texts to decode after
// the input) and small, in an order that has each reading find buffers that
// older, different ones left dirty.
std::vector<std::string> inputs() {
  return {
      "<data>" + repeat("<row a='1'><v>text &amp; more</v><w/></row>", 4000) + "</data>",
      "<r><x>1</x></r>",
      "<data>\n" + repeat("  <item id=\"k\">\n    <name>n&#13;</name>\n  </item>\n", 6000) +
          "</data>",
      "<data>" + repeat("<e>&lt;</e>", 20000) + "</data>",
      "<q b='2'/>",
  };
}

TEST(RecycledDocuments, ReadAndCopyAsFreshOnes) {
  std::vector<std::string> fresh;
  for (const std::string& xml : inputs()) fresh.push_back(picture(*parse_xml(xml)));

  Recycling recycling;
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < inputs().size(); ++i) {
      const std::string xml = inputs()[i];
      auto copied = parse_xml(xml);
      ASSERT_TRUE(copied);
      EXPECT_EQ(picture(*copied), fresh[i]) << i;
      auto in_place = parse_xml_in_place(std::string(xml));
      ASSERT_TRUE(in_place);
      EXPECT_EQ(picture(*in_place), fresh[i]) << i;

      Document copy;
      const NodeId root = copy_subtree(copy, *in_place, *in_place->root());
      copy.set_root(root);
      copy.reindex_document_order();
      EXPECT_EQ(detail::dump(copy), detail::dump(*in_place)) << i;
    }
  }
}

TEST(RecycledDocuments, OneThatOutlivesItsCallKeepsItsOwnMemory) {
  std::optional<Document> kept;
  {
    Recycling recycling;
    kept = *parse_xml_in_place(inputs()[0]);
  }
  const std::string before = picture(*kept);
  for (int round = 0; round < 3; ++round) {
    Recycling recycling;
    for (const std::string& xml : inputs()) {
      auto doc = parse_xml(xml);
      ASSERT_TRUE(doc);
    }
  }
  EXPECT_EQ(picture(*kept), before);
}

TEST(Shelves, AThreadKeepsNoMoreThanItsAllowance) {
  std::thread([] {
    Recycling recycling;
    std::vector<std::string> texts;
    for (int i = 0; i < 20; ++i) texts.push_back(take_buffer<std::string>(std::size_t{8} << 20));
    for (std::string& text : texts) give_buffer(text);
    EXPECT_LE(detail::kept_bytes, detail::kKeptPerThread);
    EXPECT_GT(detail::kept_bytes, 0u);
    EXPECT_LE(detail::all_kept_bytes.load(), detail::kKeptInAll);

    const std::size_t kept = detail::kept_bytes;
    std::string huge = take_buffer<std::string>(detail::kLargestKept + 1);
    give_buffer(huge);
    EXPECT_EQ(detail::kept_bytes, kept);
  }).join();
}

TEST(Shelves, ThreadsTogetherKeepAndLeaveNoMoreThanTheirAllowances) {
  // Threads that all keep their buffers until every one has them, so that
  // none takes up what another left: together they would keep, and then
  // leave, more than allowed.
  using Buffer = std::vector<std::uint16_t>;
  constexpr std::size_t kThreads = detail::kLeftSets + 2;
  constexpr std::size_t kBytes = std::size_t{5} << 20;  // kSlots of them fit a thread's allowance
  constexpr std::size_t kEach = detail::kSlots;
  static_assert(kEach * kBytes <= detail::kKeptPerThread);
  static_assert(kThreads * kEach * kBytes > detail::kKeptInAll);
  static_assert(detail::kLeftSets * kEach * kBytes > detail::kLeftBytes);
  std::latch all_kept(kThreads);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      Recycling recycling;
      std::vector<Buffer> kept;
      for (std::size_t i = 0; i < kEach; ++i)
        kept.push_back(take_buffer<Buffer>(kBytes / sizeof(std::uint16_t)));
      for (Buffer& buffer : kept) give_buffer(buffer);
      all_kept.arrive_and_wait();
      EXPECT_LE(detail::all_kept_bytes.load(), detail::kKeptInAll);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_LE(detail::left_bytes.load(), detail::kLeftBytes);
  EXPECT_GT(detail::left_bytes.load(), detail::kLeftBytes / 2);
}

TEST(Shelves, OutsideRecyclingNothingIsKept) {
  std::thread([] {
    std::string text = take_buffer<std::string>(std::size_t{1} << 20);
    text = "still mine";
    give_buffer(text);
    EXPECT_EQ(text, "still mine");
    EXPECT_EQ(detail::kept_bytes, 0u);
  }).join();
}

TEST(Shelves, AThreadThatStartsTakesWhatAnEndedOneKept) {
  // A type of buffer no other test keeps, so no earlier thread left a set.
  using Buffer = std::vector<std::uint64_t>;
  const std::uint64_t* memory = nullptr;
  std::thread([&] {
    Recycling recycling;
    Buffer numbers = take_buffer<Buffer>(std::size_t{1} << 17);
    numbers.push_back(7);
    memory = numbers.data();
    give_buffer(numbers);
  }).join();
  std::thread([&] {
    Recycling recycling;
    const Buffer numbers = take_buffer<Buffer>(std::size_t{1} << 17);
    EXPECT_EQ(numbers.data(), memory);
    EXPECT_TRUE(numbers.empty());
  }).join();
}

// An arena's block goes back whole and comes out again for the next call's
// arena; outside recycling it is freed.
TEST(Shelves, RawBlocksComeBackAsTheyWent) {
  std::thread([] {
    constexpr std::size_t kBytes = std::size_t{1} << 17;
    std::byte* memory = nullptr;
    {
      Recycling recycling;
      RawBlock block = take_buffer<RawBlock>(kBytes);
      ASSERT_GE(block.capacity(), kBytes);
      const std::size_t capacity = block.capacity();
      memory = block.release();
      block = RawBlock::adopt(memory, capacity);
      give_buffer(block);
      EXPECT_EQ(block.capacity(), 0u);
      EXPECT_EQ(detail::kept_bytes, capacity);
      RawBlock again = take_buffer<RawBlock>(kBytes);
      EXPECT_EQ(again.capacity(), capacity);
      EXPECT_EQ(again.release(), memory);
      again = RawBlock::adopt(memory, capacity);
    }
    RawBlock outside = take_buffer<RawBlock>(kBytes);
    give_buffer(outside);
    EXPECT_GE(outside.capacity(), kBytes);
    EXPECT_EQ(detail::kept_bytes, 0u);
  }).join();
}

}  // namespace
}  // namespace tovarn::tree
