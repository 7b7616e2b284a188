#include "discovery/watch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace kxsane {
namespace {

// One device's messages in the order they arrive: stale and repeated ones
// are dropped, a restart (a higher InstanceId) starts afresh.
TEST(WatchAppSequence, StaleAndRepeatedMessagesAreDropped) {
  const struct {
    const char* endpoint;
    AppSequence sequence;
    bool fresh;
  } kArrivals[] = {
      {"urn:a", {true, 5, "s", 10}, true},
      {"urn:a", {true, 5, "s", 10}, false},  // repeated
      {"urn:a", {true, 5, "s", 9}, false},   // older
      {"urn:a", {true, 5, "s", 11}, true},
      {"urn:a", {true, 4, "s", 99}, false},  // an instance before the device restarted
      {"urn:a", {true, 6, "s", 1}, true},    // restarted
      {"urn:a", {true, 6, "t", 1}, true},    // another sequence: nothing to compare
      {"urn:b", {true, 1, "", 1}, true},     // another device
      {"urn:a", {false, 0, "", 0}, true},    // no AppSequence: always taken
  };
  AppSequenceBook book;
  for (const auto& a : kArrivals) {
    EXPECT_EQ(book.is_fresh(a.endpoint, a.sequence), a.fresh)
        << a.endpoint << " " << a.sequence.instance << "/" << a.sequence.number;
  }
}

TEST(WatchAnnouncements, HelloOfAScannerAndByeAreRead) {
  for (const char* name : {"hello.xml", "bye.xml"}) {
    std::ostringstream text;
    text << std::ifstream(std::string(KXSANE_FUZZ_CORPUS) + "/wsd_announcements/" + name).rdbuf();
    const auto announcement = parse_announcement(text.str());
    ASSERT_TRUE(announcement) << name;
    EXPECT_EQ(announcement->hello, name[0] == 'h');
    EXPECT_EQ(announcement->device.endpoint, "urn:uuid:dev-1");
    EXPECT_EQ(announcement->sequence.instance, 7u);
    EXPECT_EQ(announcement->sequence.number, name[0] == 'h' ? 3u : 4u);
  }
  EXPECT_FALSE(parse_announcement("<not-soap/>"));
}

}  // namespace
}  // namespace kxsane
